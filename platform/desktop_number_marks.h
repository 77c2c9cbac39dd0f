// Which mark the desktop's language writes between groups of three digits. A field reads a
// typed number the same on every desktop, but a point before three digits means a thousand on
// a German or French desktop ("1.500" is 1500 there): where the language groups with a point or
// writes a decimal comma, the field asks instead of guessing, as it does for a comma everywhere.
#pragma once

namespace grainforge::platform {

// The thousands mark of the named locale's numbers: L'.' for de_DE, L',' for en_US, and L'.'
// wherever the decimal mark is a comma though thousands are printed apart otherwise (fr_FR
// groups with a space, but a point typed there is as likely a thousands mark). The name ""
// is the locale the environment chooses (LC_ALL, then LC_NUMERIC, then LANG), read whatever the
// process's own LC_NUMERIC is (the window toolkit keeps it at "C"). 0 for a locale with a
// decimal point that groups with another mark or not at all ("C"), and for a locale that is not
// installed.
// Thread-safe.
wchar_t LocaleThousandsMark(const char* localeName);

// LocaleThousandsMark("") as the process started: read once, since the desktop's language does
// not change under a running program. Thread-safe.
wchar_t DesktopThousandsMark();

}  // namespace grainforge::platform
