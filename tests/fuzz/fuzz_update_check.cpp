// The update check's answers: the version comparison is a strict order that ignores blanks and
// line ends around the texts, and only a web address is ever offered to the desktop.
#include "tests/fuzz/FuzzSupport.h"

#include "publish/UpdateCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto [first, second] = Fuzz::split(Fuzz::bytes(data, size));
    const QString remote = QString::fromUtf8(first);
    const QString other = QString::fromUtf8(second);
    const QString running = UpdateCheck::buildVersionText();

    for (const QString &b : { running, other, QStringLiteral("1.9.0"), QStringLiteral("1.10.0") }) {
        FUZZ_CHECK(!UpdateCheck::isNewer(remote, remote));
        FUZZ_CHECK(!(UpdateCheck::isNewer(remote, b) && UpdateCheck::isNewer(b, remote)));
        FUZZ_CHECK(UpdateCheck::isNewer(remote, b)
            == UpdateCheck::isNewer(QStringLiteral(" \t") + remote + QStringLiteral("\r\n"), b));
    }
    if (UpdateCheck::isNewer(remote, running))
        FUZZ_CHECK(UpdateCheck::versionNumbers(remote).has_value());

    const QUrl url = UpdateCheck::downloadUrl(other);
    if (url.isValid()) {
        const QString scheme = url.scheme().toLower();
        FUZZ_CHECK(scheme == u"http" || scheme == u"https");
        FUZZ_CHECK(!url.host().isEmpty());
    }
    return 0;
}
