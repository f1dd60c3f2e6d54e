#include "common/shared.h"


DeviceEntry g_dev[DEV_MAX];
int g_n;
BlacklistEntry g_bl[BL_MAX];
int g_bn;
char16_t g_key[KEY_UNITS];
int g_force;
