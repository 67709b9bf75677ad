#pragma once

#include <QList>
#include <QString>

class SettingsStore;

// A page-and-sound rule: when the visited page's address contains `contains` (letter case
// matters, blanks count), `soundFile` plays instead of the default sound.
struct UrlSoundRule
{
    QString contains;
    QString soundFile;
    bool operator==(const UrlSoundRule &) const = default;
};

// How a visit is shown: the program's own popup, or the desktop's notification service.
enum class PopupStyle { Popup, Notification };

// What the notification settings window edits: its working copy of the stored rules and switches.
// Nothing reaches the store until SaveSoundRules.
struct NotifySettings
{
    bool soundAlert = true; // "SoundAlert"
    bool popupAlert = true; // "PopupAlert"
    QString defaultSound; // "DefaultSnd"
    QList<UrlSoundRule> rules;
    int alertBurst = 3; // "AlertBurst": more visits than this within the window are summarised
    int alertWindowSeconds = 10; // "AlertWindowSeconds"
    QString quietFrom, quietTo; // "QuietFrom", "QuietTo": "hh:mm"; either empty: no quiet hours
    bool quietPopups = false; // "QuietPopups": quiet hours hold back the popup too
    QString ignoreAddresses; // "IgnoreAddresses": the owner's own addresses and ranges besides the PC's
    bool hideOwnVisits = false; // "HideOwnVisits": own visits are counted, not listed
    bool crawlerAlerts = false; // "CrawlerAlerts": crawlers ring and pop up as visitors do
    PopupStyle popupStyle = PopupStyle::Popup; // "PopupStyle": "popup" or "notification"
};

// Reading and writing the rules. Rule n is stored as "Contains<n>" and "CSound<n>", n from 0 to
// MaxRules; no count is stored, and a number whose Contains text is empty is no rule.
namespace SoundRules {

// The window holds at most this many rules.
constexpr int MaxRules = 100;

// The style in force: the setting "PopupStyle" ("popup" or "notification"), else the default,
// which is the notification where the popup cannot be placed (placeable false: a Wayland session
// without an X11 display).
PopupStyle popupStyle(const SettingsStore &store, bool placeable);

QString containsKey(int n);
QString soundKey(int n);

// The stored settings. The switches show what the visit processing does with them: ticked when
// their text is a true value ("1" when absent). Rules: every number from 0 to MaxRules in
// order; one whose Contains text is empty or blanks only is skipped. Sound files are trimmed,
// Contains texts kept as they are.
// placeable: as for popupStyle.
NotifySettings LoadSoundRules(const SettingsStore &store, bool placeable = true);

// Stores the working copy: writes exactly the rules of the list, numbered from 0, and removes
// every stored rule key beyond them; then "PopupAlert" and "SoundAlert" as "0"/"1" and
// "DefaultSnd". The file is written once.
void SaveSoundRules(SettingsStore &store, const NotifySettings &settings);

} // namespace SoundRules
