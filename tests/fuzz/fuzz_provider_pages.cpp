// The provider's pages and answers: the host list of a service page, the mail exchanger of a
// host's settings page, the echo page's address, and the first word of an update answer.
#include "tests/fuzz/FuzzSupport.h"

#include "publish/AddressUpdater.h"
#include "publish/clsDyndns.h"
#include "publish/modXMLHTTP.h"

namespace {
bool onlyOf(const QString &text, const char *allowed)
{
    for (const QChar c : text) {
        if (c.unicode() > 0x7f || !std::strchr(allowed, char(c.unicode())))
            return false;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto [pageBytes, answerBytes] = Fuzz::split(Fuzz::bytes(data, size));
    const QString page = QString::fromUtf8(pageBytes);

    OrderedDictionary hosts;
    QString error;
    const bool read = clsDyndns::ParseHostList(page, hosts, &error);
    FUZZ_CHECK(read || !error.isEmpty());
    for (const auto &[host, address] : hosts) {
        FUZZ_CHECK(!host.isEmpty() && onlyOf(host, "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-."));
        FUZZ_CHECK(!address.isEmpty() && onlyOf(address, "0123456789."));
    }

    if (const std::optional<QString> mx = clsDyndns::MailExchanger(page))
        FUZZ_CHECK(!mx->contains(u'"') && page.contains(*mx));

    const QString echoed = modXMLHTTP::firstAddressRun(page);
    FUZZ_CHECK(onlyOf(echoed, "0123456789.") && page.contains(echoed));

    const QString answer = QString::fromUtf8(answerBytes);
    const QString word = AddressUpdater::answerWord(answer);
    FUZZ_CHECK(word.size() <= 40);
    for (const QChar c : word)
        FUZZ_CHECK(c.unicode() >= 0x20);
    FUZZ_CHECK(!(AddressUpdater::isFinalAnswer(word) && AddressUpdater::isWaitAnswer(word)));
    if (clsDyndns::IsAcceptedAnswer(answer))
        FUZZ_CHECK(!AddressUpdater::isFinalAnswer(word) && !AddressUpdater::isWaitAnswer(word));
    return 0;
}
