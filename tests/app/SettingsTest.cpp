#include "support/Program.h"

#include <gtest/gtest.h>

namespace marlet::test {
namespace {

std::string Stored(World& w, const char* name, uint32_t* type = nullptr)
{
    RegValue value;
    if (!w.registry.Get(kKey, name, value))
        return "<missing>";
    if (type != nullptr)
        *type = value.type;
    return value.data;
}

TEST(Settings, FirstRunCreatesTheKeyAndStoresTheFiveValuesWithTheirTypes)
{
    World w;
    Program(w).Run().End();
    uint32_t type = 0;
    EXPECT_EQ(Stored(w, "PortName", &type), "");
    EXPECT_EQ(type, uint32_t(RegSz));
    EXPECT_EQ(Stored(w, "DLFileName", &type), "");
    EXPECT_EQ(type, uint32_t(RegSz));
    for (const char* name : {"DLSpeed", "NoMessages", "XonXoff"}) {
        EXPECT_EQ(Stored(w, name, &type), DwordBytes(0)) << name;
        EXPECT_EQ(type, uint32_t(RegDword)) << name;
    }
}

TEST(Settings, StoredValuesLoadAndAreWrittenBackUnchanged)
{
    World w;
    w.registry.SetDword(kKey, "DLSpeed", 7);
    w.registry.SetDword(kKey, "NoMessages", 1);
    w.registry.SetString(kKey, "DLFileName", "a.bot");
    w.registry.SetString(kKey, "PortName", "COM10:"); // longer than the file name: nothing shows through
    Program p(w);
    p.Run();
    EXPECT_EQ(p.dialog->DLSpeed, 7);
    EXPECT_EQ(NoMessages, 1);
    EXPECT_EQ(XonXoff, 0);
    EXPECT_EQ(p.dialog->DLFileName, "a.bot");
    p.End();
    EXPECT_EQ(Stored(w, "DLSpeed"), DwordBytes(7));
    EXPECT_EQ(Stored(w, "NoMessages"), DwordBytes(1));
    EXPECT_EQ(Stored(w, "XonXoff"), DwordBytes(0));
    // Texts are stored with exactly their length, without a zero byte.
    EXPECT_EQ(Stored(w, "DLFileName"), "a.bot");
}

TEST(Settings, LongTextsLoadWhole)
{
    World w;
    const std::string longName(5000, 'x');
    w.registry.SetString(kKey, "DLFileName", longName);
    Program p(w);
    p.Run();
    EXPECT_EQ(p.dialog->DLFileName, longName);
}

TEST(Settings, ValuesOfAnotherFormLeaveTheOthersIntact)
{
    World w;
    w.registry.Set(kKey, "DLSpeed", RegSz, std::string("3\0", 2));    // a number stored as a string
    w.registry.Set(kKey, "XonXoff", RegBinary, std::string(8, '\1')); // too large for a number
    w.registry.SetDword(kKey, "NoMessages", 1);
    w.registry.SetDword(kKey, "PortName", 0x31); // a string stored as a number
    Program p(w);
    p.Run();
    EXPECT_EQ(XonXoff, 0);
    EXPECT_EQ(NoMessages, 1);
    EXPECT_EQ(p.dialog->PortName, "1");
}

TEST(Settings, KeyOpenOrderIsFullAccessThenReadThenCreate)
{
    World w;
    w.registry.Ensure(kKey).readOnly = true;
    w.registry.SetDword(kKey, "DLSpeed", 2);
    w.registry.failOpenAll = true;
    Program p(w);
    p.Run();
    EXPECT_EQ(p.dialog->DLSpeed, 2); // loaded through the read-only key
    p.dialog->DLSpeed = 4;
    p.End();
    EXPECT_EQ(Stored(w, "DLSpeed"), DwordBytes(2)); // the save fails without notice
    EXPECT_TRUE(w.windows.boxes.empty());
}

TEST(Settings, NoKeyAtAllLoadsEmptyAndSavesNothing)
{
    World w;
    w.registry.failOpenAll = w.registry.failOpenRead = w.registry.failCreate = true;
    Program p(w);
    p.Run();
    EXPECT_EQ(p.dialog->PortName, "");
    EXPECT_EQ(p.dialog->DLSpeed, 0);
    p.End();
    EXPECT_EQ(w.registry.Find(kKey), nullptr);
}

} // namespace
} // namespace marlet::test
