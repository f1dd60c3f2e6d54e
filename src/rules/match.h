// How a rule reaches a device, said once for every decider: by its instance
// id or by its name. (A model's reach, which needs the device's id lists,
// is the judge's.)
#pragma once

// A rule's instance id names the device with this ASCII-lower-cased id
// (see dev_lower), letter case aside. An empty id names no device: it
// would match every device whose id could not be read.
int match_id(const char* rule_inst, const char* lower_inst);
// A rule's name (lower-cased, as rules keep it) reaches the device whose
// lower-cased name holds it; never a built-in device, which nobody may
// lose through a name it merely shares, and an empty name reaches nothing.
int match_name(const char* rule_name, const char* lower_name, int builtin);
