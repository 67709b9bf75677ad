#include "VeilixControl/PropertyBag.h"
#include "VeilixControl/VeilixPicture.h"

#include <QFile>
#include <QFont>
#include <QTemporaryDir>
#include <QTest>

class tst_PropertyBag final : public QObject
{
    Q_OBJECT
private slots:
    void defaultsAreNotStored()
    {
        PropertyBag bag;
        bag.WriteProperty(QStringLiteral("BorderWidth"), 10, 10);
        bag.WriteProperty(QStringLiteral("Caption"), QStringLiteral("OK"), QStringLiteral("Caption"));
        bag.WriteProperty(QStringLiteral("Enabled"), true, true);
        bag.WriteProperty(QStringLiteral("ScaleWidth"), 117.0, 117);
        bag.WriteProperty(
            QStringLiteral("Picture"), QVariant::fromValue(VeilixPicture()), QVariant::fromValue(VeilixPicture()));
        bag.WriteProperty(
            QStringLiteral("Mask"), QVariant::fromValue(VeilixPicture::empty()), QVariant::fromValue(VeilixPicture()));
        QCOMPARE(bag.names(), (QStringList { QStringLiteral("Caption"), QStringLiteral("Mask") }));
        // Writing the default later removes the entry.
        bag.WriteProperty(QStringLiteral("Caption"), QStringLiteral("Caption"), QStringLiteral("Caption"));
        QCOMPARE(bag.names(), QStringList { QStringLiteral("Mask") });
        QCOMPARE(bag.ReadProperty(QStringLiteral("BorderWidth"), 10).toInt(), 10);
        QCOMPARE(bag.ReadProperty(QStringLiteral("Absent"), QStringLiteral("x")).toString(), QStringLiteral("x"));
        QCOMPARE(bag.readLog(), (QStringList { QStringLiteral("BorderWidth"), QStringLiteral("Absent") }));
    }

    void jsonRoundTripOfEveryType()
    {
        QImage img(3, 2, QImage::Format_ARGB32);
        img.fill(qRgba(10, 20, 30, 200));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(9.5);
        font.setBold(true);
        PropertyBag bag;
        bag.WriteProperty(QStringLiteral("b"), false, true);
        bag.WriteProperty(QStringLiteral("i"), -5, 0);
        bag.WriteProperty(QStringLiteral("c"), qint32(0x80000012), 0);
        bag.WriteProperty(QStringLiteral("d"), 2175.5, 0.0);
        bag.WriteProperty(QStringLiteral("s"), QStringLiteral("<b>not html</b> \"q\""), QString());
        bag.WriteProperty(QStringLiteral("f"), font, QFont());
        bag.WriteProperty(
            QStringLiteral("p"), QVariant::fromValue(VeilixPicture(img)), QVariant::fromValue(VeilixPicture()));
        bag.WriteProperty(
            QStringLiteral("e"), QVariant::fromValue(VeilixPicture::empty()), QVariant::fromValue(VeilixPicture()));
        const auto back = PropertyBag::fromJson(bag.toJson());
        QVERIFY(back);
        QVERIFY(*back == bag);
        QCOMPARE(back->names(), bag.names());
        QCOMPARE(back->ReadProperty(QStringLiteral("c")).toInt(), qint32(0x80000012));
        QCOMPARE(back->ReadProperty(QStringLiteral("f")).value<QFont>(), font);
        QCOMPARE(back->ReadProperty(QStringLiteral("p"))
                     .value<VeilixPicture>()
                     .image()
                     .convertToFormat(QImage::Format_ARGB32),
            img);
        QVERIFY(back->ReadProperty(QStringLiteral("e")).value<VeilixPicture>().isEmpty());
    }

    void pictureFromFileRelativeToTheBag()
    {
        QTemporaryDir dir;
        QImage img(4, 4, QImage::Format_RGB32);
        img.fill(0xFF00FF00);
        QVERIFY(img.save(dir.filePath(QStringLiteral("face.png"))));
        QFile f(dir.filePath(QStringLiteral("button.json")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"VeilixPropertyBag": 1, "properties": [
            {"name": "PictureNormal", "type": "picture", "file": "face.png"},
            {"name": "PictureOver", "type": "picture", "file": "missing.png"}]})");
        f.close();
        const auto bag = PropertyBag::load(f.fileName());
        QVERIFY(bag);
        QCOMPARE(bag->ReadProperty(QStringLiteral("PictureNormal"))
                     .value<VeilixPicture>()
                     .image()
                     .convertToFormat(QImage::Format_RGB32),
            img);
        QVERIFY(bag->ReadProperty(QStringLiteral("PictureOver")).value<VeilixPicture>().isEmpty());
    }

    void malformedDocumentsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("not json") << QByteArray("{nope");
        QTest::newRow("no marker") << QByteArray(R"({"properties": []})");
        QTest::newRow("unknown type") << QByteArray(
            R"({"VeilixPropertyBag": 1, "properties": [{"name": "a", "type": "blob", "value": 1}]})");
        QTest::newRow("type mismatch") << QByteArray(
            R"({"VeilixPropertyBag": 1, "properties": [{"name": "a", "type": "int", "value": "x"}]})");
        QTest::newRow("no name") << QByteArray(
            R"({"VeilixPropertyBag": 1, "properties": [{"type": "int", "value": 1}]})");
        QTest::newRow("int too large") << QByteArray(
            R"({"VeilixPropertyBag": 1, "properties": [{"name": "a", "type": "int", "value": 1e12}]})");
    }
    void malformedDocumentsAreRefused()
    {
        QFETCH(QByteArray, json);
        QString error;
        QVERIFY(!PropertyBag::fromJson(json, {}, &error));
        QVERIFY(!error.isEmpty());
    }

    void oversizedFileIsRefused()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("big.json")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(16 * 1024 * 1024 + 1));
        f.close();
        QString error;
        QVERIFY(!PropertyBag::load(f.fileName(), &error));
        QVERIFY(error.contains(QStringLiteral("too large")));
        QVERIFY(!PropertyBag::load(dir.filePath(QStringLiteral("absent.json")), &error));
    }
};

QTEST_MAIN(tst_PropertyBag)
#include "tst_PropertyBag.moc"
