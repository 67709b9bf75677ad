// The settings file's text: what it reads, it writes back so that it reads the same again.
#include "tests/fuzz/FuzzSupport.h"

#include "core/IniText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = Fuzz::bytes(data, size);
    QString reason;
    const std::optional<IniText::Document> document = IniText::parse(input, &reason);
    if (!document) {
        FUZZ_CHECK(!reason.isEmpty());
        // Any text is still a value that survives writing and reading.
        const QString value = QString::fromUtf8(input);
        IniText::Document one;
        one.settings.append({ QStringLiteral("key"), value });
        const std::optional<IniText::Document> back = IniText::parse(IniText::serialize(one));
        FUZZ_CHECK(back && back->settings.size() == 1 && back->settings[0].value == value);
        return 0;
    }
    const QByteArray written = IniText::serialize(*document);
    const std::optional<IniText::Document> again = IniText::parse(written, &reason);
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->settings.size() == document->settings.size());
    for (qsizetype i = 0; i < document->settings.size(); ++i) {
        FUZZ_CHECK(again->settings[i].key == document->settings[i].key);
        FUZZ_CHECK(again->settings[i].value == document->settings[i].value);
    }
    FUZZ_CHECK(IniText::serialize(*again) == written);
    return 0;
}
