// Names made fit for one cell of the table, on every system: an image,
// domain or account name may hold anything its owner chose, and must not
// add a column or a row, overwrite the row on a console, reach the
// terminal as a control sequence or reorder the row on the screen.
#ifndef NAMES_H
#define NAMES_H

#include "winapi.h"

// Cleans terminated wide text in place and returns it (NULL stays NULL).
// The C0 and C1 controls (U+0000..U+001F, U+007F..U+009F), the line and
// paragraph separators (U+2028, U+2029) and the bidirectional controls
// (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) become '?'; a
// surrogate without its partner becomes U+FFFD. Each unit stays one unit,
// so the length does not change.
WCHAR *CleanName(WCHAR *name);

#endif
