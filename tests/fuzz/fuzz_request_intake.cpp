// The listener's request intake, fed one byte at a time over a real loopback connection: every
// request it reports is the input up to the end of its header, cut at the header limit, or all
// of it when the visitor closed first; a TLS handshake is never reported.
#include "tests/fuzz/FuzzSupport.h"

#include "capture/Listener.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr qsizetype MaxHeaderBytes = 2048;
constexpr qint64 StepDeadlineMs = 5000;

struct Intake
{
    Listener listener;
    QList<QByteArray> requests;
    QStringList addresses;
    int tlsNotices = 0;

    Intake()
        : listener(Clock::system(), limits())
    {
        QString error;
        FUZZ_CHECK(listener.listen(0, &error));
        QObject::connect(
            &listener, &Listener::requestFinished, [this](const QByteArray &request, const QString &address) {
                requests << request;
                addresses << address;
            });
        QObject::connect(&listener, &Listener::tlsRefused, [this] { ++tlsNotices; });
    }

    static ListenerLimits limits()
    {
        ListenerLimits l;
        l.maxHeaderBytes = MaxHeaderBytes;
        l.tlsNoticeIntervalMs = 0; // every handshake noticed
        l.deferAcceptSeconds = 0; // the connection is watched from its start, byte by byte
        return l;
    }
};

// Lets the listener run until done() holds; a listener that never gets there has hung.
template <typename Done> void pumpUntil(Done done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        FUZZ_CHECK(timer.elapsed() < StepDeadlineMs);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::ensureApplication();
    static Intake *intake = new Intake;
    intake->requests.clear();
    intake->addresses.clear();
    intake->tlsNotices = 0;
    const QByteArray input = Fuzz::bytes(data, size);

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(fd >= 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(intake->listener.serverPort());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0);
    pumpUntil([] { return intake->listener.openConnections() == 1; });

    for (qsizetype i = 0; i < input.size(); ++i) {
        const qint64 before = intake->listener.receivedBytes();
        if (::send(fd, input.constData() + i, 1, MSG_NOSIGNAL) != 1)
            break; // the listener closed the connection
        pumpUntil(
            [before] { return intake->listener.receivedBytes() > before || intake->listener.openConnections() == 0; });
        if (intake->listener.openConnections() == 0)
            break;
    }
    ::close(fd); // the visitor leaves
    pumpUntil([] { return intake->listener.openConnections() == 0; });

    if (input.isEmpty()) {
        FUZZ_CHECK(intake->requests.isEmpty());
    } else if (input.front() == '\x16') {
        FUZZ_CHECK(intake->requests.isEmpty());
        FUZZ_CHECK(intake->tlsNotices == 1);
    } else {
        const qsizetype headerEnd = input.indexOf("\r\n\r\n");
        qsizetype expected = qMin(input.size(), MaxHeaderBytes);
        if (headerEnd >= 0)
            expected = qMin(expected, headerEnd + 4);
        FUZZ_CHECK(intake->requests.size() == 1);
        FUZZ_CHECK(intake->requests.front() == input.left(expected));
        FUZZ_CHECK(intake->addresses.front() == QStringLiteral("127.0.0.1"));
    }
    return 0;
}
