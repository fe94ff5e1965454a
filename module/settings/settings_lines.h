// The filter's settings as lines of scene text: written through the host's
// line writer, read back through its line reader. Envelopes write and read
// their own lines through the envelope service, inside an entry's lines.
#pragma once

#include "module/abi/line_io.h"
#include "module/settings/settings.h"

#include <cstdint>

namespace orvit {

// Version 4 lines, one writeLine call each:
//   "v 04"
//   "%d %d"              enabled, settingCount
//   then per entry, in list order:
//   "%d %d %d %lf %lf"   value, enabled, mode, distance, transparency
//   "%d %d"              1 if the size / transparency envelope is saved below
//   (size envelope lines, then transparency envelope lines, by saveEnvelope)
//   5 x "%d %d %d %d %d" keyEnabled, keyRed, keyGreen, keyBlue, keyPosition
// Reals are written with six decimals and a '.' whatever the locale. An
// envelope is flagged only when the service can save it, so the lines always
// read back. Returns 0.
int32_t saveSettings(const FilterInstance* instance, const SaveState* state);

// Replaces the whole list with the entries read from `state` (dropped entries
// and their envelopes are released) and may set `enabled`. Reads the version 4
// lines above and the older unversioned form (no version line, no flag lines,
// no envelopes). Returns 0 in every case.
//
// Lines are parsed like the C scanner's "%d" and "%lf": blanks skipped, a
// field that does not parse ends the line, and that field and the later ones
// keep their values (defaults for a new entry; the previous `enabled`; 0 for
// counts and flags). Integers beyond 32 bits saturate; reals beyond the double
// range become +-infinity or +-0.
//
// The data may end anywhere: an entry is made only once its first line has
// been read, and reading stops at the first missing line, so a cut-short entry
// keeps what it read and its defaults for the rest, and a header count larger
// than the data makes no further entries. An envelope flag that cannot be
// honoured (no envelope service, or it makes no envelope) also stops reading:
// the envelope's lines are the service's own and cannot be skipped without
// it. That entry is kept without the envelope and with its default keys.
int32_t loadSettings(FilterInstance* instance, const LoadState* state);

} // namespace orvit
