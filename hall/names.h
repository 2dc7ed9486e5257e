// A hero's name as the hall shows it: the bytes the game took, made into text that shows every
// byte and lets none of them act on a terminal or a page.
#pragma once

#include <string>
#include <string_view>

// Printable characters stay as they are. A control byte shows as a caret and its letter (ESC as
// ^[, NUL as ^@), DEL as ^?; a byte that is not part of well-formed UTF-8, and the UTF-8 of an
// invisible control character (C1 controls, line and paragraph separators, marks that turn the
// direction of text), show as \xNN for each byte. The text is always well-formed UTF-8.
std::string visible_name(std::string_view bytes);
