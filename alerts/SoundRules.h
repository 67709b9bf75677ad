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

// What the notification settings window edits: its working copy of the stored rules and switches.
// Nothing reaches the store until SaveSoundRules.
struct NotifySettings
{
    bool soundAlert = true; // "SoundAlert"
    bool popupAlert = true; // "PopupAlert"
    QString defaultSound; // "DefaultSnd"
    QList<UrlSoundRule> rules;
};

// Reading and writing the rules. Rule n is stored as "Contains<n>" and "CSound<n>"; no count is
// stored: the first empty Contains text ends the list.
namespace SoundRules {

// The window holds at most this many rules.
constexpr int MaxRules = 100;

QString containsKey(int n);
QString soundKey(int n);

// The stored settings. The switches show what the visit processing does with them: ticked when
// their text is a true value ("1" when absent). Rules: number 0 is always examined; a rule whose
// Contains text is blanks only is skipped but does not end the list; the list ends before the
// first number whose Contains text is empty. Sound files are trimmed, Contains texts kept as they
// are.
NotifySettings LoadSoundRules(const SettingsStore &store);

// Stores the working copy, in this order: clears the old rules (number 0 always, then every
// further number while its stored sound file, trimmed, is not empty; keys are emptied, never
// removed), writes the rules from number 0 on, then "PopupAlert" and "SoundAlert" as "0"/"1" and
// "DefaultSnd".
void SaveSoundRules(SettingsStore &store, const NotifySettings &settings);

} // namespace SoundRules
