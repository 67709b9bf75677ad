#pragma once

#include "publish/HttpRequest.h"
#include "publish/modXMLHTTP.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The fake dynamic-DNS provider of fake_provider.py, started for one test: an HTTPS account site
// with a test certificate authority and a plain-HTTP site (update protocol, echo page, texts).
class FakeProvider
{
public:
    struct Request
    {
        QString site; // "account" or "plain"
        QString path; // path and query as sent
        QList<QPair<QString, QString>> headers;

        bool hasHeader(const QString &name) const
        {
            for (const auto &h : headers) {
                if (h.first == name.toLower())
                    return true;
            }
            return false;
        }
        QString header(const QString &name) const
        {
            for (const auto &h : headers) {
                if (h.first == name.toLower())
                    return h.second;
            }
            return {};
        }
    };

    FakeProvider()
    {
        m_log = m_dir.filePath(QStringLiteral("requests.jsonl"));
        m_process.setProgram(QStringLiteral(VISTELLE_PYTHON));
        m_process.setArguments({ QStringLiteral(VISTELLE_FAKE_PROVIDER), QStringLiteral("--dir"), m_dir.path(),
            QStringLiteral("--log"), m_log });
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return;
        QByteArray out;
        for (int i = 0; i < 200 && !out.contains('\n'); ++i) {
            if (!m_process.waitForReadyRead(100) && m_process.state() != QProcess::Running)
                break;
            out += m_process.readAll();
        }
        const QList<QByteArray> words = out.trimmed().split(' ');
        if (words.size() == 3 && words[0] == "READY") {
            m_httpsPort = words[1].toInt();
            m_httpPort = words[2].toInt();
        }
    }

    ~FakeProvider()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    bool isReady() const { return m_httpsPort > 0 && m_httpPort > 0; }
    // The account site's base address (ends in "/").
    QString accountSite() const { return QStringLiteral("https://127.0.0.1:%1/").arg(m_httpsPort); }
    // The plain site's address, without a trailing "/".
    QString plainSite() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_httpPort); }
    int httpPort() const { return m_httpPort; }
    QString caFile() const { return m_dir.filePath(QStringLiteral("ca.pem")); }
    QString otherCaFile() const { return m_dir.filePath(QStringLiteral("other-ca.pem")); }

    // Every request received since the last clearRequests(), in order.
    QList<Request> requests() const
    {
        QList<Request> result;
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly))
            return result;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.trimmed().isEmpty())
                continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            Request r;
            r.site = o.value(QStringLiteral("site")).toString();
            r.path = o.value(QStringLiteral("path")).toString();
            const QJsonArray headers = o.value(QStringLiteral("headers")).toArray();
            for (const QJsonValue &h : headers)
                r.headers.append({ h.toArray().at(0).toString(), h.toArray().at(1).toString() });
            result.append(r);
        }
        return result;
    }
    QStringList paths() const
    {
        QStringList result;
        for (const Request &r : requests())
            result.append(r.path);
        return result;
    }
    // Puts the hosts' addresses back as they were at the start and forgets the requests.
    void reset() const
    {
        HttpRequest request;
        modXMLHTTP::OpenGet(request, plainSite() + QStringLiteral("/__reset"));
        try {
            modXMLHTTP::SendAndWait(request);
        } catch (const HttpError &) { }
        clearRequests();
    }
    void clearRequests() const
    {
        QFile file(m_log);
        if (file.open(QIODevice::ReadWrite))
            file.resize(0);
    }

private:
    QTemporaryDir m_dir;
    QString m_log;
    QProcess m_process;
    int m_httpsPort = 0;
    int m_httpPort = 0;
};
