/* The floor of a pass that matches by name: enumerate every device record
 * and read its name, class and instance id, and nothing else. */
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

int main(void) {
    HDEVINFO set = SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return 1;
    SP_DEVINFO_DATA d;
    d.cbSize = sizeof d;
    static WCHAR name[512], cls[128], id[512];
    int n = 0;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &d); i++) {
        if (!SetupDiGetDeviceRegistryPropertyW(set, &d, SPDRP_FRIENDLYNAME, NULL, (BYTE*)name, sizeof name, NULL))
            SetupDiGetDeviceRegistryPropertyW(set, &d, SPDRP_DEVICEDESC, NULL, (BYTE*)name, sizeof name, NULL);
        SetupDiGetDeviceRegistryPropertyW(set, &d, SPDRP_CLASS, NULL, (BYTE*)cls, sizeof cls, NULL);
        CM_Get_Device_IDW(d.DevInst, id, 512, 0);
        n++;
    }
    SetupDiDestroyDeviceInfoList(set);
    return n > 0 ? 0 : 1;
}
