// The message shown to a user who is not an administrator, and the message box that shows it.
#pragma once

// The administrator-required message in the ANSI code page Windows-1252 (apostrophes 0x92,
// quotation marks 0x93 and 0x94, the dash 0x96): eleven lines joined by single line feeds, none
// after the last.
inline constexpr char kAdminRequiredMessage[] =
    "We\x92re sorry, but you need to be logged in as an Administrator to install this security"
    " software.\n"
    "\n"
    "Here\x92s what you need to do in order to get full protection from Ostravane with free"
    " Anti-Virus:\n"
    "\n"
    "1. Click the \x93OK\x94 button below\n"
    "2. Log off of Windows\n"
    "3. Log back in to Windows as an \x93"
    "Admin\x94 user\n"
    "   (a user with Administrator privileges)"
    "                                                    "  // 52 spaces
    "\n"
    "4. Re-start this install process\n"
    "\n"
    "Thanks for your understanding \x96 this is the only way that we can protect you against"
    " spyware, viruses and other cyber-threats.";

// Shows `text` captioned `caption` in an ownerless message box of `style` plus MB_USERICON, with
// the icon resource `iconId` (its low 16 bits) of the application's module. Returns
// MessageBoxIndirectA's result.
int ShowAdminRequiredMessage(const char* caption, const char* text, unsigned int iconId, unsigned int style);
// The same through MessageBoxIndirectW for a translated text, the buttons in `language`.
int ShowAdminRequiredMessage(const wchar_t* caption, const wchar_t* text, unsigned int iconId, unsigned int style,
                             unsigned short language);
