// A device's model: the one hardware id that every unit of the same model
// shares, whatever port or serial number gives each its own instance id.
#pragma once

#include <cstddef>

// The model id among a device's hardware ids (a multi-string: texts each
// ended by a 0, the list by a second 0), copied verbatim into out (units,
// with the terminator): the first that names vendor and product and no
// revision (USB and HID: VID_ and PID_; PCI: VEN_, DEV_ and SUBSYS_).
// Windows matches the list's strings whole, so one with REV_ would miss the
// next revision, and a compatible id (USB\Class_0E, USB\COMPOSITE) would
// reach devices of every maker. 0 (out empty) when there is none.
int model_id(const char16_t* hardware_ids, char16_t* out, size_t units);
// What keeps an id from naming a model: Windows compares a device's
// hardware ids with a rule's whole string, so an id of any other shape
// would never match.
enum model_fault {
    MODEL_ID_OK,
    MODEL_ID_NO_VENDOR,   // vendor and product are not both named (a class id, a compatible id)
    MODEL_ID_INSTANCE,    // a part after a second '\': a device's instance path, not a hardware id
    MODEL_ID_ORDER,       // the product before the vendor, which no hardware id has
    MODEL_ID_EMPTY_PART,  // "&&", an '&' at an end, or a tag without its value ("MI_", "REV_")
    MODEL_ID_SEVERAL,     // ids joined by ';'
    MODEL_ID_REVISION,    // a revision: the next revision would not match
    MODEL_ID_CONTROL,     // a control character
};
// Whether id names a model: a bus, '\', then '&'-separated parts, with
// VID_ before PID_ (USB, HID) or VEN_ before DEV_ (with SUBSYS_, or on the
// ACPI bus), and no revision.
model_fault model_id_fault(const char16_t* id);
// 1 when id names vendor and product and no revision, as model_id requires.
int names_a_model(const char16_t* id);
// 1 when the multi-string holds the id, letter case aside.
int ids_hold(const char16_t* ids, const char16_t* id);
// The id of the composite device that a USB function's model id belongs to
// ("USB\VID_v&PID_p&MI_zz" -> "USB\VID_v&PID_p", the composite device's own
// hardware id without a revision), into out (units). 0 when the model is
// no USB function's.
int model_parent_id(const char16_t* model, char16_t* out, size_t units);
// 1 when the id lists are a USB composite device's (its compatible ids hold
// USB\COMPOSITE): the parent whose functions Windows enumerates. A hub
// (USB\ROOT_HUB..., USB\USB20_HUB, class 09) never is.
int composite_parent(const char16_t* hardware, const char16_t* compatible);
// The part of a model id that every instance id of its devices starts with,
// the bus and the vendor ("USB\VID_2B7E&"), into out (units): the walk
// reads the id lists of those devices alone. 0 when it has none.
int model_prefix(const char16_t* model, char16_t* out, size_t units);
// The same, through the product where the model's second part names one
// ("USB\VID_2B7E&PID_0136", "PCI\VEN_8086&DEV_A0F0"): the bus reports an
// instance id with the vendor and product of its hardware ids, so a device
// of another product cannot hold the model. Such a prefix ends mid-id: 2,
// and the instance id must go on with '&' or '\' after it; 1 when the
// prefix is model_prefix's; 0 when it has none.
int model_product_prefix(const char16_t* model, char16_t* out, size_t units);
// The device id an instance id starts with, its enumerator and device
// ("USB\VID_v&PID_p&MI_00" of "USB\VID_v&PID_p&MI_00\6&1&0&0000"), into
// out (units): what the bus reports among the hardware ids. 0 when the
// instance id has no such part.
int instance_device_id(const char16_t* inst, char16_t* out, size_t units);
