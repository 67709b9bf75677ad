#include "capture/VisitClassifier.h"

#include "core/LogSink.h"
#include "core/Paths.h"
#include "core/SettingsStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <system_error>

void WordSet::add(QStringView word)
{
    int node = 0;
    for (const QChar c : word) {
        auto &edges = m_nodes[std::size_t(node)].next;
        const auto at = std::lower_bound(edges.begin(), edges.end(), c.unicode(),
            [](const std::pair<char16_t, int> &edge, char16_t key) { return edge.first < key; });
        if (at != edges.end() && at->first == c.unicode()) {
            node = at->second;
            continue;
        }
        const int created = int(m_nodes.size());
        edges.insert(at, { c.unicode(), created });
        m_nodes.emplace_back();
        node = created;
    }
    m_nodes[std::size_t(node)].word = true;
}

int WordSet::step(int node, char16_t c) const
{
    for (;;) {
        const auto &edges = m_nodes[std::size_t(node)].next;
        const auto at = std::lower_bound(edges.begin(), edges.end(), c,
            [](const std::pair<char16_t, int> &edge, char16_t key) { return edge.first < key; });
        if (at != edges.end() && at->first == c)
            return at->second;
        if (node == 0)
            return 0;
        node = m_nodes[std::size_t(node)].fail;
    }
}

void WordSet::finish()
{
    // Breadth first: a node's failure link is the longest proper suffix of its path that is also
    // a path from the root, found from its parent's.
    std::vector<int> queue;
    for (const auto &[c, child] : m_nodes[0].next)
        queue.push_back(child);
    for (std::size_t i = 0; i < queue.size(); ++i) {
        const int node = queue[i];
        for (const auto &[c, child] : m_nodes[std::size_t(node)].next) {
            const int parentFail = m_nodes[std::size_t(node)].fail;
            m_nodes[std::size_t(child)].fail = node == 0 ? 0 : step(parentFail, c);
            if (m_nodes[std::size_t(child)].fail == child)
                m_nodes[std::size_t(child)].fail = 0;
            m_nodes[std::size_t(child)].word
                = m_nodes[std::size_t(child)].word || m_nodes[std::size_t(m_nodes[std::size_t(child)].fail)].word;
            queue.push_back(child);
        }
    }
}

bool WordSet::containedIn(QStringView text) const
{
    int node = 0;
    for (const QChar c : text) {
        node = step(node, c.unicode());
        if (m_nodes[std::size_t(node)].word)
            return true;
    }
    return false;
}

namespace {
// The word a pattern stands for when it is one: no operator, and escapes only of punctuation
// ("Googlebot\/" is "Googlebot/"). No value for a real expression.
std::optional<QString> plainWord(const QString &pattern)
{
    static const QString operators = QStringLiteral("[](){}|*+?^$.");
    QString word;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == u'\\') {
            if (i + 1 >= pattern.size() || pattern.at(i + 1).isLetterOrNumber())
                return std::nullopt; // \d, \s, \b, ...
            word += pattern.at(++i);
        } else if (operators.contains(c)) {
            return std::nullopt;
        } else {
            word += c;
        }
    }
    if (word.isEmpty())
        return std::nullopt;
    return word;
}
} // namespace

std::optional<CrawlerPatterns> CrawlerPatterns::load(const QString &fileName, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    if (file.size() > MaxFileBytes) {
        if (error)
            *error = QStringLiteral("the file is larger than %1 bytes").arg(MaxFileBytes);
        return std::nullopt;
    }
    return fromJson(file.read(MaxFileBytes), error);
}

std::optional<CrawlerPatterns> CrawlerPatterns::fromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isArray()) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                  : QStringLiteral("not a list of patterns");
        return std::nullopt;
    }
    QString alternatives;
    CrawlerPatterns patterns;
    for (const QJsonValue &entry : document.array()) {
        const QString pattern = entry.toObject().value(QStringLiteral("pattern")).toString();
        if (const std::optional<QString> word = plainWord(pattern)) {
            patterns.m_words.add(*word);
            ++patterns.m_count;
            continue;
        }
        // Each expression must compile on its own: one bad entry would otherwise bend its
        // neighbours.
        if (pattern.isEmpty() || !QRegularExpression(pattern).isValid())
            continue;
        if (!alternatives.isEmpty())
            alternatives += u'|';
        alternatives += QStringLiteral("(?:") + pattern + u')';
        ++patterns.m_count;
    }
    patterns.m_words.finish();
    if (!alternatives.isEmpty()) {
        patterns.m_expression.setPattern(alternatives);
        if (!patterns.m_expression.isValid()) {
            if (error)
                *error = patterns.m_expression.errorString();
            return std::nullopt;
        }
        patterns.m_expression.optimize();
    }
    if (patterns.m_count == 0) {
        if (error)
            *error = QStringLiteral("no patterns");
        return std::nullopt;
    }
    return patterns;
}

bool CrawlerPatterns::matches(const QString &userAgent) const
{
    if (userAgent.isEmpty())
        return false;
    if (const auto found = m_cache.constFind(userAgent); found != m_cache.cend())
        return *found;
    const bool match = m_words.containedIn(userAgent)
        || (!m_expression.pattern().isEmpty() && m_expression.match(userAgent).hasMatch());
    if (m_cache.size() >= MaxCachedAgents)
        m_cache.clear();
    m_cache.insert(userAgent, match);
    return match;
}

QString VisitClassifier::defaultPatternFile()
{
    return Paths::findDataFile(QStringLiteral("crawler-user-agents.json"));
}

VisitClassifier::VisitClassifier(SettingsStore &settings, QString patternFile)
    : m_settings(settings)
    , m_patternFile(std::move(patternFile))
{
    try {
        m_loading = std::async(std::launch::async, [file = m_patternFile] { return load(file); });
    } catch (const std::system_error &) {
        // No thread to be had: the first visit that needs the list reads it.
    }
}

VisitClassifier::Loaded VisitClassifier::load(const QString &file)
{
    Loaded loaded;
    loaded.patterns = CrawlerPatterns::load(file, &loaded.error);
    return loaded;
}

VisitClassifier::~VisitClassifier() = default;

void VisitClassifier::setOwnAddress(const QString &address)
{
    // Written as visitor addresses are (RFC 5952, an IPv4-mapped address as IPv4), so that a
    // visit's address is compared as text.
    const QHostAddress own(address.trimmed());
    bool mapped = false;
    const quint32 v4 = own.toIPv4Address(&mapped);
    m_ownAddress = own.isNull() ? QString() : mapped ? QHostAddress(v4).toString() : own.toString();
}

const CrawlerPatterns *VisitClassifier::patterns()
{
    if (!m_patternsTried) {
        m_patternsTried = true;
        Loaded loaded = m_loading.valid() ? m_loading.get() : load(m_patternFile);
        if (loaded.patterns)
            m_patterns = std::make_unique<CrawlerPatterns>(std::move(*loaded.patterns));
        else
            LogMsg(QStringLiteral("Crawlers are not recognised: cannot read %1 (%2)").arg(m_patternFile, loaded.error));
    }
    return m_patterns.get();
}

VisitKind VisitClassifier::kindOf(const QString &address, const QString &userAgent)
{
    if (!m_ownAddress.isEmpty() && address == m_ownAddress)
        return VisitKind::Own;
    if (const quint64 generation = m_settings.generation(); generation != m_ignoredGeneration) {
        m_ignoredGeneration = generation;
        m_ignored = AddressRanges::parse(m_settings.GetSetting(QStringLiteral("IgnoreAddresses")));
    }
    if (!m_ignored.isEmpty() && m_ignored.contains(QHostAddress(address)))
        return VisitKind::Own;
    if (!userAgent.isEmpty()) {
        if (const CrawlerPatterns *crawlers = patterns(); crawlers && crawlers->matches(userAgent))
            return VisitKind::Crawler;
    }
    return VisitKind::Visit;
}
