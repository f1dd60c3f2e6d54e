// Removing a device by its id.
#include <gtest/gtest.h>

#include "device/remove.h"
#include "support.h"

namespace {

TEST(RemoveDev, AnEmptyIdRemovesNothing) {
    // A device whose id cannot be read also has an empty id; removing "" must
    // not pick it (or anything else) and must not reach pnputil either.
    qt::Machine m;
    m.dev(1, "Smart Camera", "", "Camera", "");
    m.dev(1, "Other", "", "Camera", "USB\\1");
    m.lines += "run\tpnputil\t0\n";
    m.load();
    EXPECT_EQ(remove_dev(u""), 0);
    for (const auto& l : m.recorded()) {
        EXPECT_NE(l.rfind("remove", 0), 0u) << l;
        EXPECT_NE(l.rfind("run", 0), 0u) << l;
    }
}

}  // namespace
