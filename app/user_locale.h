#pragma once

// Sets the C library's locale from the user's defaults. Narrow texts (the log file, stored
// session values, camera texts) are in this locale's encoding; when the user's defaults name the
// plain ASCII "C" locale, character handling falls back to UTF-8, since Cyrillic operator texts
// would otherwise be lost.
void adopt_user_locale();
