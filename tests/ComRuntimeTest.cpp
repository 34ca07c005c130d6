// The COM runtime: creation from the class table and object lifetimes, BSTRs, VARIANTs and task
// memory, property bags, and the system device enumerator over the device registry.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "platform/com/ClassTable.h"
#include "platform/com/PropertyBag.h"
#include "platform/devices/DeviceRegistry.h"
#include "platform/dshow/Strmif.h"

namespace {

// A test object's one interface: the setting it was made with.
constexpr IID IID_ISetting = MakeGuid("6D1C5B0E-8E0A-4C59-9A55-3C2F0E7A1B01");
constexpr CLSID CLSID_Test = MakeGuid("6D1C5B0E-8E0A-4C59-9A55-3C2F0E7A1B02");
constexpr CLSID CLSID_FailingTest = MakeGuid("6D1C5B0E-8E0A-4C59-9A55-3C2F0E7A1B03");

struct ISetting : IUnknown {
    virtual int Setting() = 0;
};

std::atomic<int> liveObjects{0};

class TestObject final : public CUnknown, public ISetting {
public:
    TestObject(IUnknown* outer, int setting) : CUnknown("TestObject", outer), m_Setting(setting) { ++liveObjects; }
    ~TestObject() override { --liveObjects; }
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override
    {
        return iid == IID_ISetting ? GetInterface(static_cast<ISetting*>(this), object)
                                   : CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    int Setting() override { return m_Setting; }

private:
    const int m_Setting;
};

template <HRESULT result>
CUnknown* MakeTestObject(IUnknown* outer, HRESULT* hr)
{
    *hr = result;
    return new TestObject(outer, 7);
}

// The test classes in the class table while a test lives; every object made is gone at its end.
class ComCreateInstance : public ::testing::Test {
protected:
    void SetUp() override
    {
        AddClass({CLSID_Test, L"Test", MERIT_DO_NOT_USE, {}, MakeTestObject<S_OK>});
        AddClass({CLSID_FailingTest, L"Failing test", MERIT_DO_NOT_USE, {}, MakeTestObject<E_OUTOFMEMORY>});
    }
    void TearDown() override
    {
        RemoveClass(CLSID_Test);
        RemoveClass(CLSID_FailingTest);
        EXPECT_EQ(liveObjects, 0);
    }
};

// An outer object that only counts its references.
struct Outer final : IUnknown {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ULONG(++count); }
    ULONG Release() override { return ULONG(--count); }
    int count = 1;
};

void* const untouched = reinterpret_cast<void*>(0x1);

}  // namespace

TEST_F(ComCreateInstance, FailuresLeaveNoObject)
{
    Outer outer;
    const struct { const char* name; CLSID clsid; IUnknown* outer; IID iid; HRESULT expected; } cases[] = {
        {"unknown class", MakeGuid("00000000-1111-2222-3333-444444444444"), nullptr, IID_IUnknown, REGDB_E_CLASSNOTREG},
        {"aggregate asked for another interface", CLSID_Test, &outer, IID_ISetting, CLASS_E_NOAGGREGATION},
        {"interface the object lacks", CLSID_Test, nullptr, IID_IMediaDet, E_NOINTERFACE},
        {"construction failed", CLSID_FailingTest, nullptr, IID_ISetting, E_OUTOFMEMORY},
    };
    for (const auto& c : cases) {
        void* object = untouched;
        EXPECT_EQ(CoCreateInstance(c.clsid, c.outer, CLSCTX_INPROC_SERVER, c.iid, &object), c.expected) << c.name;
        EXPECT_TRUE(object == nullptr && liveObjects == 0) << c.name;
    }
    EXPECT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_INPROC_SERVER, IID_ISetting, nullptr), E_POINTER);
}

// An object starts with one reference and goes with the last; an aggregate hands out its own
// unknown and delegates the rest.
TEST_F(ComCreateInstance, ReferencesAloneAndAggregated)
{
    ISetting* object = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_ALL, IID_ISetting, (void**)&object), S_OK);
    EXPECT_EQ(object->Setting(), 7);
    EXPECT_EQ((std::vector<ULONG>{object->AddRef(), object->Release(), object->Release()}), (std::vector<ULONG>{2, 1, 0}));

    Outer outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_Test, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&inner), S_OK);
    ISetting* setting = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_ISetting, (void**)&setting), S_OK);
    EXPECT_EQ(outer.count, 2);  // the interface's reference belongs to the outer object
    setting->Release();
    EXPECT_EQ(inner->Release(), 0u);
}

TEST(ComMemory, BstrKeepsLengthAndCharactersAndNullIsEmpty)
{
    BSTR text = SysAllocString(L"Grüße ☃");
    EXPECT_EQ(SysStringLen(text), 7u);
    EXPECT_STREQ(text, L"Grüße ☃");
    SysFreeString(text);
    const WCHAR embedded[] = {L'a', 0, L'b'};
    BSTR counted = SysAllocStringLen(embedded, 3), blank = SysAllocStringLen(nullptr, 2);
    EXPECT_EQ(std::wstring(counted, SysStringLen(counted) + 1), std::wstring(L"a\0b\0", 4));
    EXPECT_EQ(std::wstring(blank, SysStringLen(blank) + 1), std::wstring(3, L'\0'));
    for (BSTR freed : {counted, blank, BSTR(nullptr)})
        SysFreeString(freed);
    EXPECT_TRUE(SysAllocString(nullptr) == nullptr && SysStringLen(nullptr) == 0u);

    // Contents survive a move; size 0 frees (the sanitizer build sees a leak or a double free).
    char* block = static_cast<char*>(CoTaskMemAlloc(4));
    memcpy(block, "abc", 4);
    block = static_cast<char*>(CoTaskMemRealloc(block, 1 << 20));
    EXPECT_STREQ(block, "abc");
    EXPECT_EQ(CoTaskMemRealloc(block, 0), nullptr);
}

TEST(ComMemory, VariantCopyOwnsItsStringAndClearFreesIt)
{
    VARIANT source, copy;
    VariantInit(&copy);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(L"name");
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_TRUE(VariantClear(&source) == S_OK && source.vt == VT_EMPTY);
    ASSERT_EQ(copy.vt, VT_BSTR);
    EXPECT_STREQ(copy.bstrVal, L"name");  // a string shared with the cleared one is a use after free
    // Copying over a held string frees it (a leak in the sanitizer build otherwise).
    VARIANT number{VT_I4, 0, 0, 0, {-5}}, odd{20, 0, 0, 0, {0}};
    ASSERT_EQ(VariantCopy(&copy, &number), S_OK);
    EXPECT_EQ(std::tuple(copy.vt, copy.lVal), std::tuple(VARTYPE(VT_I4), LONG(-5)));
    EXPECT_EQ(VariantCopy(&copy, &odd), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

namespace {

// A property read as a string; "<error>" when it cannot be.
std::wstring ReadString(IPropertyBag* bag, LPCOLESTR name)
{
    VARIANT value;
    value.vt = VT_BSTR;
    if (bag->Read(name, &value, nullptr) != S_OK || value.vt != VT_BSTR)
        return L"<error>";
    std::wstring text(value.bstrVal, SysStringLen(value.bstrVal));
    VariantClear(&value);
    return text;
}

HRESULT WriteString(IPropertyBag* bag, LPCOLESTR name, LPCOLESTR text)
{
    VARIANT value{VT_BSTR, 0, 0, 0, {}};
    value.bstrVal = SysAllocString(text);
    const HRESULT hr = bag->Write(name, &value);
    VariantClear(&value);  // the bag keeps a copy of its own
    return hr;
}

}  // namespace

TEST(ComPropertyBag, ReadsCopiesOfWhatWasWrittenAndRefusesOthers)
{
    IPropertyBag* bag = nullptr;
    ASSERT_EQ(QueryNewObject(new PropertyBag, S_OK, IID_IPropertyBag, (void**)&bag), S_OK);
    ASSERT_EQ(WriteString(bag, L"Name", L"first"), S_OK);
    EXPECT_EQ(ReadString(bag, L"Name"), L"first");
    ASSERT_EQ(WriteString(bag, L"Name", L"second"), S_OK);
    VARIANT any[2];
    for (VARIANT& value : any) {
        VariantInit(&value);
        ASSERT_EQ(bag->Read(L"Name", &value, nullptr), S_OK);
        ASSERT_EQ(value.vt, VT_BSTR);
        EXPECT_STREQ(value.bstrVal, L"second");
    }
    EXPECT_NE(any[0].bstrVal, any[1].bstrVal);  // each read owns its string
    VariantClear(&any[0]);
    VariantClear(&any[1]);

    VARIANT number{VT_I4, 0, 0, 0, {42}};
    ASSERT_EQ(bag->Write(L"Count", &number), S_OK);
    VARIANT read{VT_BSTR, 0, 0, 0, {}};
    EXPECT_EQ(bag->Read(L"Count", &read, nullptr), DISP_E_TYPEMISMATCH);
    read.vt = VT_I4;
    ASSERT_EQ(bag->Read(L"Count", &read, nullptr), S_OK);
    EXPECT_EQ(read.lVal, 42);
    EXPECT_EQ(bag->Read(L"count", &read, nullptr), E_INVALIDARG);  // names are case-sensitive
    EXPECT_EQ(bag->Read(L"Count", nullptr, nullptr), E_POINTER);
    bag->Release();
}

namespace {

// Test devices in the video input category while a test lives, each making a TestObject with a
// setting of its own through one factory.
class ComDevices : public ::testing::Test {
protected:
    static constexpr const WCHAR* names[] = {L"Test DV One", L"Test Camera", L"Test DV Two"};

    void SetUp() override
    {
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(Registry().Add(CLSID_VideoInputDeviceCategory, Device(names[i], i)), S_OK);
    }
    void TearDown() override
    {
        for (const WCHAR* name : names)
            Registry().Remove(CLSID_VideoInputDeviceCategory, name);
        EXPECT_EQ(liveObjects, 0);
    }

    static DeviceRegistry& Registry() { return DeviceRegistry::Instance(); }
    static DeviceEntry Device(const std::wstring& name, int setting)
    {
        return {name, CLSID_Test, [setting](IUnknown* outer, HRESULT*) -> CUnknown* { return new TestObject(outer, setting); }};
    }

    // The category's enumerator, null when CreateClassEnumerator gives none.
    static IEnumMoniker* Enumerate(REFCLSID category, HRESULT expected = S_OK)
    {
        ICreateDevEnum* devices = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 3, IID_ICreateDevEnum, (void**)&devices), S_OK);
        IEnumMoniker* monikers = reinterpret_cast<IEnumMoniker*>(untouched);
        EXPECT_EQ(devices->CreateClassEnumerator(category, &monikers, 0), expected);
        devices->Release();
        return monikers;
    }

    // A string property of a moniker's device.
    static std::wstring Property(IMoniker* moniker, LPCOLESTR name)
    {
        IPropertyBag* bag = nullptr;
        if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, (void**)&bag) != S_OK)
            return L"<unbound>";
        const std::wstring text = ReadString(bag, name);
        bag->Release();
        return text;
    }

    // The friendly names of the rest of an enumeration, taken one at a time; releases the enumerator.
    static std::vector<std::wstring> Names(IEnumMoniker* monikers)
    {
        std::vector<std::wstring> found;
        for (IMoniker* moniker; monikers->Next(1, &moniker, nullptr) == S_OK; moniker->Release())
            found.push_back(Property(moniker, L"FriendlyName"));
        monikers->Release();
        return found;
    }

    // The setting of the filter a moniker binds; -1 when it binds none.
    static int Bound(IMoniker* moniker)
    {
        ISetting* filter = nullptr;
        if (moniker->BindToObject(nullptr, nullptr, IID_ISetting, (void**)&filter) != S_OK)
            return -1;
        const int setting = filter->Setting();
        filter->Release();
        return setting;
    }
};

}  // namespace

TEST_F(ComDevices, CategoryWithoutDevicesGivesFalseAndNoEnumerator)
{
    for (const WCHAR* name : names)
        Registry().Remove(CLSID_VideoInputDeviceCategory, name);
    for (const CLSID& category : {CLSID_MediaDet, CLSID_VideoInputDeviceCategory})
        EXPECT_EQ(Enumerate(category, S_FALSE), nullptr);
}

TEST_F(ComDevices, MonikersComeInRegistrationOrderAndOutliveTheirDevice)
{
    IEnumMoniker* monikers = Enumerate(CLSID_VideoInputDeviceCategory);
    IMoniker* moniker[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(monikers->Next(2, moniker, nullptr), E_POINTER);  // more than one needs a count
    EXPECT_EQ(monikers->Next(4, moniker, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 3u);
    monikers->Release();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::tuple(Property(moniker[i], L"FriendlyName"), Property(moniker[i], L"CLSID"), Bound(moniker[i])),
                  std::tuple(names[i], L"{6D1C5B0E-8E0A-4C59-9A55-3C2F0E7A1B02}", i));
    void* none = untouched;
    EXPECT_EQ(moniker[0]->BindToObject(nullptr, nullptr, IID_IMediaDet, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);

    // A removed device is no longer listed, but its moniker still binds.
    EXPECT_TRUE(Registry().Remove(CLSID_VideoInputDeviceCategory, names[0]));
    EXPECT_FALSE(Registry().Remove(CLSID_VideoInputDeviceCategory, names[0]));
    EXPECT_FALSE(Registry().Remove(CLSID_VideoCompressorCategory, names[1]));
    EXPECT_EQ(Bound(moniker[0]), 0);
    EXPECT_EQ(Names(Enumerate(CLSID_VideoInputDeviceCategory)), (std::vector<std::wstring>{names[1], names[2]}));
    for (IMoniker* m : {moniker[0], moniker[1], moniker[2]})
        EXPECT_EQ(m->Release(), 0u);
}

TEST_F(ComDevices, AddRefusesDuplicatesUnknownCategoriesAndIncompleteDevices)
{
    for (const auto& [category, device] : {std::pair{CLSID_VideoInputDeviceCategory, Device(names[1], 9)},
                                           {CLSID_MediaDet, Device(L"Elsewhere", 9)},
                                           {CLSID_VideoInputDeviceCategory, Device(L"", 9)},
                                           {CLSID_VideoInputDeviceCategory, DeviceEntry{L"No factory", CLSID_Test, {}}}})
        EXPECT_EQ(Registry().Add(category, device), E_INVALIDARG);
    EXPECT_EQ(Registry().Devices(CLSID_VideoInputDeviceCategory).size(), 3u);
}

TEST_F(ComDevices, RegistryStaysWholeWhileThreadsAddRemoveAndEnumerate)
{
    std::atomic<bool> broken{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([t, &broken] {
            const std::wstring name = L"Thread device " + std::to_wstring(t);
            for (int round = 0; round < 200; ++round) {
                broken = broken || Registry().Add(CLSID_VideoInputDeviceCategory, Device(name, t)) != S_OK;
                // Our own device is listed, after the fixture's, among distinct names.
                const std::vector<std::wstring> listed = Names(Enumerate(CLSID_VideoInputDeviceCategory));
                const std::set<std::wstring> distinct(listed.begin(), listed.end());
                broken = broken || listed.size() < 4 || distinct.size() != listed.size() || !distinct.count(name) ||
                         listed[0] != names[0];
                broken = broken || !Registry().Remove(CLSID_VideoInputDeviceCategory, name);
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_FALSE(broken);
    EXPECT_EQ(Registry().Devices(CLSID_VideoInputDeviceCategory).size(), 3u);
}
