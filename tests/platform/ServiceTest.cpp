#include "platform/Boxes.h"
#include "platform/Service.h"

#include "support/ScriptedBoxes.h"

#include <gtest/gtest.h>

namespace {

// Overrides nest: each scope puts back exactly what was installed before it,
// and with none left the real service answers again.
TEST(ServiceSlot, ScopedOverridesNestAndRestoreThePreviousService)
{
    platform::Boxes &real = platform::Service<platform::Boxes>::real();
    ASSERT_FALSE(platform::Service<platform::Boxes>::overridden());
    EXPECT_EQ(&platform::Boxes::instance(), &real);
    {
        testing_support::ScriptedBoxes outer;
        EXPECT_EQ(&platform::Boxes::instance(), &outer);
        {
            testing_support::ScriptedBoxes inner;
            EXPECT_EQ(&platform::Boxes::instance(), &inner);
            platform::ShowMessage(QStringLiteral("innen"));
            EXPECT_EQ(inner.texts(), QStringList{QStringLiteral("innen")});
        }
        EXPECT_EQ(&platform::Boxes::instance(), &outer);
        EXPECT_TRUE(outer.texts().isEmpty());
    }
    EXPECT_FALSE(platform::Service<platform::Boxes>::overridden());
    EXPECT_EQ(&platform::Boxes::instance(), &real);
}

} // namespace
