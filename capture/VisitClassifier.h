#pragma once

#include "capture/VisitKind.h"
#include "core/AddressRanges.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <future>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class SettingsStore;

// Finds whether a text contains any of a set of words, in one pass over the text (Aho and
// Corasick's automaton over UTF-16 code units).
class WordSet final
{
public:
    void add(QStringView word);
    // Links the automaton; after the last add, before the first containedIn.
    void finish();
    bool containedIn(QStringView text) const;
    bool isEmpty() const { return m_nodes.size() <= 1; }

private:
    struct Node
    {
        std::vector<std::pair<char16_t, int>> next; // sorted by code unit
        int fail = 0;
        bool word = false; // a word ends here, or at a node its failure links reach
    };
    int step(int node, char16_t c) const;
    std::vector<Node> m_nodes { Node() };
};

// The crawler patterns of the crawler-user-agents list (a JSON array of objects whose "pattern"
// is a case-sensitive regular expression). Most are plain words: those are found in one pass
// (WordSet); the few real expressions are matched as one. Answers for recent User-Agents are
// remembered: a site's visitors send a handful of distinct ones.
class CrawlerPatterns final
{
public:
    static constexpr qint64 MaxFileBytes = 8 * 1024 * 1024;
    static constexpr qsizetype MaxCachedAgents = 512;

    // Reads a pattern file; no value (and the reason in *error) when it cannot be read, is not
    // such a list or its patterns do not compile.
    static std::optional<CrawlerPatterns> load(const QString &fileName, QString *error = nullptr);
    // The patterns of a list's JSON text.
    static std::optional<CrawlerPatterns> fromJson(const QByteArray &json, QString *error = nullptr);

    bool matches(const QString &userAgent) const;
    qsizetype patternCount() const { return m_count; }

private:
    WordSet m_words;
    QRegularExpression m_expression; // empty: no pattern needs one
    qsizetype m_count = 0;
    mutable QHash<QString, bool> m_cache;
};

// Tells the kind of a visit: the owner's own (the PC's public address or one of IgnoreAddresses),
// a crawler (its User-Agent on the shipped pattern list), or a visitor's. The list is read on a
// thread of its own from the start (it takes milliseconds to compile); a visit that needs it
// before then waits for it.
class VisitClassifier final
{
public:
    // The shipped pattern file in the program's data folders.
    static QString defaultPatternFile();

    explicit VisitClassifier(SettingsStore &settings, QString patternFile = defaultPatternFile());
    ~VisitClassifier();

    // The PC's public address as last learned (empty: unknown).
    void setOwnAddress(const QString &address);
    QString ownAddress() const { return m_ownAddress; }

    VisitKind kindOf(const QString &address, const QString &userAgent);

private:
    const CrawlerPatterns *patterns();

    SettingsStore &m_settings;
    QString m_patternFile;
    QString m_ownAddress;
    AddressRanges m_ignored;
    quint64 m_ignoredGeneration = ~quint64(0);
    struct Loaded
    {
        std::optional<CrawlerPatterns> patterns;
        QString error;
    };
    static Loaded load(const QString &file);
    std::future<Loaded> m_loading;
    std::unique_ptr<CrawlerPatterns> m_patterns;
    bool m_patternsTried = false;
};
