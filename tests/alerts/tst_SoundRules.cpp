#include "alerts/SoundRules.h"
#include "core/SettingsStore.h"

#include <QTemporaryDir>
#include <QTest>

// The page rules and switches in the store: what the settings window loads and what OK leaves
// behind, including the gaps and blank texts a hand-edited or "Modify"-emptied store holds.
class tst_SoundRules : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void load_data();
    void load();
    void save_data();
    void save();

private:
    // "key=value" pairs into the store.
    void fill(const QStringList &pairs)
    {
        for (const QString &pair : pairs) {
            const qsizetype eq = pair.indexOf(u'=');
            m_store->SaveSetting(pair.left(eq), pair.mid(eq + 1));
        }
    }
    static QStringList rulesText(const QList<UrlSoundRule> &rules)
    {
        QStringList out;
        for (const UrlSoundRule &r : rules)
            out << (u'[' + r.contains + QStringLiteral("]->[") + r.soundFile + u']');
        return out;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_store;
    int m_run = 0;
};

void tst_SoundRules::init()
{
    m_store = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("s%1.conf").arg(++m_run)));
}

void tst_SoundRules::load_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("rules");
    QTest::addColumn<bool>("sound");
    QTest::addColumn<bool>("popup");
    QTest::addColumn<QString>("defaultSound");

    QTest::newRow("fresh user") << QStringList() << QStringList() << true << true << QStringLiteral("doorbell.wav");
    QTest::newRow("switches and default") << QStringList { QStringLiteral("SoundAlert=0"),
        QStringLiteral("popupalert=1"), QStringLiteral("DefaultSnd= bell.wav ") }
                                          << QStringList() << false << true << QStringLiteral(" bell.wav ");
    QTest::newRow("switch texts as the visit processing reads them")
        << QStringList { QStringLiteral("SoundAlert=True"), QStringLiteral("PopupAlert=yes") } << QStringList() << true
        << false << QStringLiteral("doorbell.wav");
    QTest::newRow("Contains kept, sound trimmed")
        << QStringList { QStringLiteral("Contains0= News "), QStringLiteral("CSound0=  a.wav  "),
               QStringLiteral("Contains1=shop"), QStringLiteral("CSound1=b.wav") }
        << QStringList { QStringLiteral("[ News ]->[a.wav]"), QStringLiteral("[shop]->[b.wav]") } << true << true
        << QStringLiteral("doorbell.wav");
    QTest::newRow("blanks-only text skipped, later rules load")
        << QStringList { QStringLiteral("Contains0=a"), QStringLiteral("CSound0=1.wav"),
               QStringLiteral("Contains1=   "), QStringLiteral("CSound1=2.wav"), QStringLiteral("Contains2=c"),
               QStringLiteral("CSound2=3.wav") }
        << QStringList { QStringLiteral("[a]->[1.wav]"), QStringLiteral("[c]->[3.wav]") } << true << true
        << QStringLiteral("doorbell.wav");
    QTest::newRow("empty text above 0 is skipped too")
        << QStringList { QStringLiteral("Contains0=a"), QStringLiteral("CSound0=1.wav"), QStringLiteral("Contains1="),
               QStringLiteral("CSound1=2.wav"), QStringLiteral("Contains7=c"), QStringLiteral("CSound7=3.wav") }
        << QStringList { QStringLiteral("[a]->[1.wav]"), QStringLiteral("[c]->[3.wav]") } << true << true
        << QStringLiteral("doorbell.wav");
    QTest::newRow("empty text at 0 is skipped, the rest loads")
        << QStringList { QStringLiteral("Contains0="), QStringLiteral("CSound0=1.wav"), QStringLiteral("Contains1=b"),
               QStringLiteral("CSound1=2.wav") }
        << QStringList { QStringLiteral("[b]->[2.wav]") } << true << true << QStringLiteral("doorbell.wav");
}

void tst_SoundRules::load()
{
    QFETCH(QStringList, stored);
    fill(stored);
    const NotifySettings settings = SoundRules::LoadSoundRules(*m_store);
    QFETCH(QStringList, rules);
    QCOMPARE(rulesText(settings.rules), rules);
    QFETCH(bool, sound);
    QCOMPARE(settings.soundAlert, sound);
    QFETCH(bool, popup);
    QCOMPARE(settings.popupAlert, popup);
    QFETCH(QString, defaultSound);
    QCOMPARE(settings.defaultSound, defaultSound);
}

void tst_SoundRules::save_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<int>("ruleCount"); // rules r0..r(n-1) with sounds s0..
    QTest::addColumn<QStringList>("expected"); // "key=value" after saving; "key" alone: absent
    QTest::addColumn<QStringList>("reloaded"); // the rules the next loading shows

    // Deleting every rule leaves none behind, whatever gaps and empty sounds the store had.
    QTest::newRow("empty list removes every rule")
        << QStringList { QStringLiteral("Contains0=x"), QStringLiteral("CSound0=1"), QStringLiteral("Contains1=y"),
               QStringLiteral("CSound1="), QStringLiteral("Contains2=z"), QStringLiteral("CSound2=3"),
               QStringLiteral("contains40=w"), QStringLiteral("Other=kept") }
        << 0
        << QStringList { QStringLiteral("Contains0"), QStringLiteral("CSound0"), QStringLiteral("Contains1"),
               QStringLiteral("CSound1"), QStringLiteral("Contains2"), QStringLiteral("CSound2"),
               QStringLiteral("Contains40"), QStringLiteral("Other=kept") }
        << QStringList();
    QTest::newRow("fewer rules than stored: the rest is removed")
        << QStringList { QStringLiteral("Contains0=a"), QStringLiteral("CSound0=1"), QStringLiteral("Contains1=b"),
               QStringLiteral("CSound1= "), QStringLiteral("Contains2=c"), QStringLiteral("CSound2=3") }
        << 1
        << QStringList { QStringLiteral("Contains0=r0"), QStringLiteral("CSound0=s0"), QStringLiteral("Contains1"),
               QStringLiteral("CSound1"), QStringLiteral("Contains2"), QStringLiteral("CSound2") }
        << QStringList { QStringLiteral("[r0]->[s0]") };
    QTest::newRow("switches and default written")
        << QStringList() << 2
        << QStringList { QStringLiteral("Contains0=r0"), QStringLiteral("CSound1=s1"), QStringLiteral("PopupAlert=0"),
               QStringLiteral("SoundAlert=1"), QStringLiteral("DefaultSnd=my.wav") }
        << QStringList { QStringLiteral("[r0]->[s0]"), QStringLiteral("[r1]->[s1]") };
}

void tst_SoundRules::save()
{
    QFETCH(QStringList, stored);
    QFETCH(int, ruleCount);
    QFETCH(QStringList, expected);
    fill(stored);
    NotifySettings settings;
    settings.soundAlert = true;
    settings.popupAlert = false;
    settings.defaultSound = QStringLiteral("my.wav");
    for (int i = 0; i < ruleCount; ++i)
        settings.rules.append({ QStringLiteral("r%1").arg(i), QStringLiteral("s%1").arg(i) });
    SoundRules::SaveSoundRules(*m_store, settings);

    const SettingsStore reread(m_store->fileName());
    for (const QString &pair : expected) {
        const qsizetype eq = pair.indexOf(u'=');
        if (eq < 0)
            QVERIFY2(!reread.contains(pair), qPrintable(pair));
        else
            QCOMPARE(reread.GetSetting(pair.left(eq), QStringLiteral("<absent>")), pair.mid(eq + 1));
    }
    QFETCH(QStringList, reloaded);
    QCOMPARE(rulesText(SoundRules::LoadSoundRules(reread).rules), reloaded);
}

QTEST_GUILESS_MAIN(tst_SoundRules)
#include "tst_SoundRules.moc"
