// The names of Quillfen's policy key, its lists, its mode and its layering.
#include "policy/policy.h"

const char16_t POLICY_KEY[] = u"SOFTWARE\\Policies\\Quillfen";

const PolicyList POLICY_LIST[POLICY_LISTS] = {
    {u"BlockedInstanceIDs", POLICY_INSTANCE_ID, 0},
    {u"BlockedModels", POLICY_MODEL, 0},
    {u"BlockedNames", POLICY_NAME, 0},
    {u"ApprovedInstanceIDs", POLICY_INSTANCE_ID, 1},
    {u"ApprovedModels", POLICY_MODEL, 1},
};

const char16_t POLICY_WHILE_STANDS[] = u"none";

const char16_t POLICY_MODE[] = u"Mode";
const char16_t* const POLICY_MODES[POLICY_MODE_COUNT] = {u"Enforce", u"Audit"};

const char16_t POLICY_LAYERING[] = u"Layering";
const char16_t* const POLICY_LAYERINGS[POLICY_LAYERING_COUNT] = {u"Auto", u"Never"};
