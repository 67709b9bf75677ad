// The visitor-list reader: bounded, no line break inside a cell, and a list it read saves and
// reads back to the same rows.
#include "tests/fuzz/FuzzSupport.h"

#include "capture/VisitorListModel.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::ensureApplication();
    const QString path = Fuzz::scratchFile("visitors.csv");
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size));
    }
    VisitorListLimits limits;
    limits.maxFileBytes = qint64(1) << 20;
    limits.maxLineBytes = 1 << 16;
    limits.maxRows = 10'000;
    const VisitorListModel::ReadResult read = VisitorListModel::readFile(path, limits);
    FUZZ_CHECK(read.opened);
    FUZZ_CHECK(read.rows.size() <= limits.maxRows);
    FUZZ_CHECK(read.rows.size() <= qsizetype(size));

    VisitorListModel model;
    model.appendRows(read.rows);
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < VisitorListModel::ColumnCount; ++column) {
            const QString cell = model.cellText(row, column);
            FUZZ_CHECK(!cell.contains(u'\n') && !cell.contains(u'\r'));
        }
    }

    const QString saved = Fuzz::scratchFile("saved.csv");
    FUZZ_CHECK(model.saveToFile(saved));
    const VisitorListModel::ReadResult again = VisitorListModel::readFile(saved, limits);
    FUZZ_CHECK(again.complete);
    FUZZ_CHECK(again.rows.size() == read.rows.size());
    VisitorListModel reloaded;
    reloaded.appendRows(again.rows);
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < VisitorListModel::ColumnCount; ++column)
            FUZZ_CHECK(reloaded.cellText(row, column) == model.cellText(row, column));
    }
    return 0;
}
