// The WMI query object against the prefix's real root\cimv2.

#include "fake_security.h"
#include "sysinfo/os_version_win.h"
#include "sysinfo/wmi_object_win.h"

#include <gtest/gtest.h>

using namespace Velmora::System;
using namespace Velmora::System::Security;
using namespace VelmoraTest;

namespace {

class WmiObjectTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(com_.Status()); }
    ComScope com_;
    RecordingPresenter presenter_;
    PresenterScope presenting_{&presenter_};
};

TEST_F(WmiObjectTest, ReadsTheOperatingSystemObjectThroughEveryPropertyKind)
{
    CEasyWMIObject wmi;
    EXPECT_EQ(E_POINTER, wmi.Query(L"Win32_OperatingSystem")) << "not connected yet";
    ASSERT_EQ(S_OK, wmi.Initialize());
    ASSERT_EQ(S_OK, CEasyWMIObject().Initialize()) << "security already set is no failure";
    EXPECT_EQ(static_cast<HRESULT>(0x8004100E), wmi.Connect(L"root\\SecurityCenter2"));
    ASSERT_EQ(S_OK, wmi.Connect(L"root\\cimv2"));
    ASSERT_EQ(S_OK, wmi.Query(L"Win32_OperatingSystem"));

    const OsVersionFacts facts = GatherOsVersionFacts();
    int objects = 0;
    EXPECT_EQ(S_OK, wmi.ForEach([&](CEasyWMIObject& os) {
        ++objects;
        EXPECT_EQ(std::to_wstring(facts.build), os.GetStringProperty(L"BuildNumber"));
        EXPECT_NE(std::wstring::npos, os.GetStringProperty(L"Caption").find(L"Microsoft Windows"));
        EXPECT_EQ(L"", os.GetStringProperty(L"OSType")) << "a number is no text";
        EXPECT_EQ(18, os.GetIntegerProperty(L"OSType")) << "uint16, WINNT";
        EXPECT_EQ(static_cast<std::int64_t>(facts.productInfo.value_or(0)),
                  os.GetIntegerProperty(L"OperatingSystemSKU"));
        EXPECT_TRUE(os.GetBoolProperty(L"Primary"));
        EXPECT_FALSE(os.GetBoolProperty(L"Caption")) << "text is no boolean";
        EXPECT_FALSE(os.GetBoolProperty(L"NoSuchProperty"));
        EXPECT_EQ(0, os.GetIntegerProperty(L"NoSuchProperty"));
        EXPECT_TRUE(presenter_.shown.empty()) << "a failed read says nothing";
        EXPECT_EQ(0, os.GetIntegerProperty(L"Caption"));
    }));
    EXPECT_EQ(1, objects);
    ASSERT_EQ(1u, presenter_.shown.size()) << "text read as an integer is reported";
    EXPECT_EQ(L"Undesired type found", presenter_.shown[0].content);
    EXPECT_EQ(L"Error type", presenter_.shown[0].title);
    EXPECT_EQ(L"", presenter_.shown[0].instruction);
    EXPECT_FALSE(presenter_.shown[0].askYesNo);

    EXPECT_EQ(E_NOINTERFACE, wmi.ForEach([&](CEasyWMIObject&) { ++objects; })) << "the results are used up";
    EXPECT_EQ(1, objects);
    // Wine takes the query of an unknown class and then delivers nothing, Windows refuses it.
    const HRESULT unknown = wmi.Query(L"Win32_NoSuchClass");
    if (SUCCEEDED(unknown)) {
        EXPECT_EQ(E_NOINTERFACE, wmi.ForEach([&](CEasyWMIObject&) { ++objects; }));
    }
    EXPECT_EQ(1, objects);
}

TEST_F(WmiObjectTest, LocatorFailuresComeBackAsTheyAre)
{
    CEasyWMIObject broken([](IWbemLocator**) { return REGDB_E_CLASSNOTREG; });
    EXPECT_EQ(REGDB_E_CLASSNOTREG, broken.Initialize());
    EXPECT_EQ(E_POINTER, broken.Connect(L"root\\cimv2"));
}

} // namespace
