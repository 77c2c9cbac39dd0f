#include "app/view/renderer/gl_functions.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace grainforge::gl {
namespace {

void Dummy() {}

// A resolver that answers every name but those in `missing`, and records what it was asked.
struct FakeDriver {
    std::set<std::string> missing;
    std::vector<std::string> asked;

    GlProcResolver Resolver()
    {
        return [this](const char* name) -> void* {
            asked.emplace_back(name);
            return missing.count(name) != 0 ? nullptr : reinterpret_cast<void*>(&Dummy);
        };
    }
};

TEST(LoadGlFunctions, AMissingRequiredEntryPointIsNamed)
{
    for (const char* name : {"glGenVertexArrays", "glGetShaderInfoLog", "glDeleteShader", "glDeleteFramebuffers"}) {
        FakeDriver driver;
        driver.missing = {name};
        GlFunctionTable table;
        std::string error;
        EXPECT_FALSE(LoadGlFunctions(table, driver.Resolver(), error));
        EXPECT_EQ(error, std::string("OpenGL driver does not provide ") + name + ".");
        // Loading stops at the missing one.
        EXPECT_EQ(driver.asked.back(), name);
    }
}

TEST(LoadGlFunctions, MissingTimerQueriesDoNotStopStartUp)
{
    FakeDriver driver;
    driver.missing = {"glGetQueryObjectui64v"};
    GlFunctionTable table;
    std::string error;
    EXPECT_TRUE(LoadGlFunctions(table, driver.Resolver(), error));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(table.GetQueryObjectui64v, nullptr);
    EXPECT_NE(table.GenQueries, nullptr);
    EXPECT_FALSE(table.HasTimerQueries());
}

TEST(LoadGlFunctions, LoadsTheShaderBlockBeforeTheQueriesAndTheRest)
{
    FakeDriver driver;
    GlFunctionTable table;
    std::string error;
    ASSERT_TRUE(LoadGlFunctions(table, driver.Resolver(), error));
    ASSERT_EQ(driver.asked.size(), 43u);
    EXPECT_EQ(driver.asked[0], "glGenVertexArrays");
    EXPECT_EQ(driver.asked[14], "glGetShaderInfoLog");
    EXPECT_EQ(driver.asked[15], "glGenQueries");
    EXPECT_EQ(driver.asked[20], "glGetQueryObjectui64v");
    EXPECT_EQ(driver.asked[21], "glDeleteShader");
    EXPECT_TRUE(table.HasTimerQueries());
}

TEST(LoadGlFunctions, NoResolverLoadsNothing)
{
    GlFunctionTable table;
    std::string error;
    EXPECT_FALSE(LoadGlFunctions(table, GlProcResolver{}, error));
    EXPECT_EQ(error, "OpenGL driver does not provide glGenVertexArrays.");
}

TEST(EpoxyProcResolver, AnswersOnlyTheTablesNames)
{
    const GlProcResolver resolver = EpoxyProcResolver();
    EXPECT_NE(resolver("glBufferData"), nullptr);
    EXPECT_EQ(resolver("glMadeUpFunction"), nullptr);
}

}  // namespace
}  // namespace grainforge::gl
