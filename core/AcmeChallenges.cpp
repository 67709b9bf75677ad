#include "core/AcmeChallenges.h"

QByteArray AcmeChallenges::pathPrefix()
{
    return QByteArrayLiteral("/.well-known/acme-challenge/");
}

void AcmeChallenges::publish(const QByteArray &token, const QByteArray &keyAuthorization)
{
    std::lock_guard lock(m_mutex);
    m_answers.insert(token, keyAuthorization);
    m_count.store(int(m_answers.size()), std::memory_order_release);
}

void AcmeChallenges::withdraw(const QByteArray &token)
{
    std::lock_guard lock(m_mutex);
    m_answers.remove(token);
    m_count.store(int(m_answers.size()), std::memory_order_release);
}

std::optional<QByteArray> AcmeChallenges::answer(const QByteArray &token) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_answers.constFind(token);
    if (it == m_answers.constEnd())
        return std::nullopt;
    return it.value();
}

std::optional<QByteArray> AcmeChallenges::responseFor(const QByteArray &request) const
{
    if (isEmpty())
        return std::nullopt;
    const QByteArray start = "GET " + pathPrefix();
    if (!request.startsWith(start))
        return std::nullopt;
    const qsizetype lineEnd = request.indexOf("\r\n");
    if (lineEnd < 0)
        return std::nullopt;
    const QByteArray line = request.left(lineEnd);
    const qsizetype blank = line.indexOf(' ', start.size());
    if (blank < 0 || !(line.mid(blank) == " HTTP/1.1" || line.mid(blank) == " HTTP/1.0"))
        return std::nullopt;
    const QByteArray token = line.mid(start.size(), blank - start.size());
    const std::optional<QByteArray> keyAuthorization = answer(token);
    if (!keyAuthorization)
        return std::nullopt;
    return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: "
        + QByteArray::number(keyAuthorization->size()) + "\r\nConnection: close\r\n\r\n" + *keyAuthorization;
}
