// The COM runtime: creation from the class table and object lifetimes, BSTRs, VARIANTs and task
// memory, property bags, and the system device enumerator over the device registry.
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <set>
#include <thread>

#include "platform/com/ClassTable.h"
#include "platform/com/PropertyBag.h"
#include "platform/devices/DeviceRegistry.h"
#include "platform/dshow/Strmif.h"

namespace {

// A test object's one interface: the setting it was made with.
constexpr IID IID_ISetting = MakeGuid("6D1C5B0E-8E0A-4C59-9A55-3C2F0E7A1B01");
constexpr CLSID CLSID_TestObject = MakeGuid("6D1C5B0E-8E0A-4C59-9A55-3C2F0E7A1B02");

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

// Makes a TestObject whose construction reports `result`.
template <HRESULT result>
CUnknown* MakeTestObject(IUnknown* outer, HRESULT* hr)
{
    *hr = result;
    return new TestObject(outer, 7);
}

// The test class in the class table while it lives.
struct TestClass {
    explicit TestClass(ClassFactoryFunction create) { AddClass({CLSID_TestObject, L"Test", MERIT_DO_NOT_USE, {}, create}); }
    ~TestClass() { RemoveClass(CLSID_TestObject); }
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

TEST(ComInitialize, FirstCallOnAThreadSucceedsLaterOnesReportFalseUntilBalanced)
{
    std::thread([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        CoUninitialize();
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    }).join();
}

TEST(ComCreateInstance, FailuresLeaveNoObject)
{
    TestClass registered(MakeTestObject<S_OK>);
    Outer outer;
    struct Case {
        const char* name;
        CLSID clsid;
        IUnknown* outer;
        IID iid;
        HRESULT expected;
    } cases[] = {
        {"unknown class", MakeGuid("00000000-1111-2222-3333-444444444444"), nullptr, IID_IUnknown, REGDB_E_CLASSNOTREG},
        {"aggregation asking for another interface", CLSID_TestObject, &outer, IID_ISetting, CLASS_E_NOAGGREGATION},
        {"interface the object lacks", CLSID_TestObject, nullptr, IID_IMediaDet, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        void* object = untouched;
        EXPECT_EQ(CoCreateInstance(c.clsid, c.outer, CLSCTX_INPROC_SERVER, c.iid, &object), c.expected) << c.name;
        EXPECT_EQ(object, nullptr) << c.name;
        EXPECT_EQ(liveObjects, 0) << c.name;
    }
    EXPECT_EQ(CoCreateInstance(CLSID_TestObject, nullptr, CLSCTX_INPROC_SERVER, IID_ISetting, nullptr), E_POINTER);
    EXPECT_EQ(liveObjects, 0);
}

TEST(ComCreateInstance, ObjectStartsWithOneReferenceAndGoesWithTheLast)
{
    TestClass registered(MakeTestObject<S_OK>);
    ISetting* object = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestObject, nullptr, CLSCTX_ALL, IID_ISetting, (void**)&object), S_OK);
    EXPECT_EQ(object->Setting(), 7);
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(liveObjects, 1);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(liveObjects, 0);
}

TEST(ComCreateInstance, FailedConstructionIsReturnedAndTheObjectFreed)
{
    TestClass registered(MakeTestObject<E_OUTOFMEMORY>);
    void* object = untouched;
    EXPECT_EQ(CoCreateInstance(CLSID_TestObject, nullptr, CLSCTX_INPROC_SERVER, IID_ISetting, &object), E_OUTOFMEMORY);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(liveObjects, 0);
}

TEST(ComCreateInstance, AggregatedObjectHandsItsOwnUnknownAndDelegatesTheRest)
{
    TestClass registered(MakeTestObject<S_OK>);
    Outer outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestObject, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&inner), S_OK);
    ISetting* setting = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_ISetting, (void**)&setting), S_OK);
    EXPECT_EQ(outer.count, 2);  // the interface's reference belongs to the outer object
    setting->Release();
    EXPECT_EQ(outer.count, 1);
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(liveObjects, 0);
}

TEST(ComCreateInstance, PlatformClassesAreInTheTable)
{
    for (const auto& [clsid, iid] : {std::pair{CLSID_MediaDet, IID_IMediaDet}, {CLSID_SystemDeviceEnum, IID_ICreateDevEnum}}) {
        IUnknown* object = nullptr;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, (void**)&object), S_OK);
        EXPECT_EQ(object->Release(), 0u);
    }
}

TEST(ComStrings, BstrKeepsItsLengthAndCharacters)
{
    BSTR text = SysAllocString(L"Grüße ☃");
    EXPECT_EQ(SysStringLen(text), 7u);
    EXPECT_STREQ(text, L"Grüße ☃");
    SysFreeString(text);

    const WCHAR embedded[] = {L'a', 0, L'b'};
    BSTR counted = SysAllocStringLen(embedded, 3);
    EXPECT_EQ(SysStringLen(counted), 3u);
    EXPECT_EQ(counted[2], L'b');
    EXPECT_EQ(counted[3], 0);
    SysFreeString(counted);

    BSTR blank = SysAllocStringLen(nullptr, 4);
    EXPECT_EQ(SysStringLen(blank), 4u);
    EXPECT_EQ(std::wstring(blank, 5), std::wstring(5, L'\0'));
    SysFreeString(blank);
}

TEST(ComStrings, NullBstrIsEmpty)
{
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(ComStrings, GuidStringIsBracedUpperCase)
{
    WCHAR text[39];
    EXPECT_EQ(StringFromGUID2(CLSID_MediaDet, text, 39), 39);
    EXPECT_STREQ(text, L"{65BD0711-24D2-4FF7-9324-ED2E5D3ABAFA}");
    EXPECT_EQ(StringFromGUID2(CLSID_MediaDet, text, 38), 0);
}

TEST(ComVariant, CopyOwnsItsStringAndClearFreesIt)
{
    VARIANT source, copy;
    VariantInit(&source);
    VariantInit(&copy);
    EXPECT_EQ(source.vt, VT_EMPTY);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(L"name");
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    ASSERT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_STREQ(copy.bstrVal, L"name");
    EXPECT_EQ(VariantClear(&source), S_OK);
    EXPECT_EQ(source.vt, VT_EMPTY);
    EXPECT_STREQ(copy.bstrVal, L"name");  // still readable: the sanitizer build sees a shared string

    // Copying over a held string frees it (the sanitizer build sees a leak otherwise).
    VARIANT number;
    number.vt = VT_I4;
    number.lVal = -5;
    ASSERT_EQ(VariantCopy(&copy, &number), S_OK);
    EXPECT_EQ(copy.vt, VT_I4);
    EXPECT_EQ(copy.lVal, -5);

    VARIANT odd;
    odd.vt = 20;
    EXPECT_EQ(VariantCopy(&copy, &odd), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(ComTaskMemory, ReallocKeepsContentsAndSizeZeroFrees)
{
    char* block = static_cast<char*>(CoTaskMemAlloc(4));
    ASSERT_NE(block, nullptr);
    memcpy(block, "abc", 4);
    block = static_cast<char*>(CoTaskMemRealloc(block, 1 << 20));
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "abc");
    EXPECT_EQ(CoTaskMemRealloc(block, 0), nullptr);
    CoTaskMemFree(nullptr);
}

namespace {

// A fresh property bag through its interface.
IPropertyBag* NewBag()
{
    IPropertyBag* bag = nullptr;
    EXPECT_EQ(QueryNewObject(new PropertyBag, S_OK, IID_IPropertyBag, (void**)&bag), S_OK);
    return bag;
}

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

}  // namespace

TEST(ComPropertyBag, ReadsCopiesOfWhatWasWritten)
{
    IPropertyBag* bag = NewBag();
    VARIANT value;
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"first");
    ASSERT_EQ(bag->Write(L"Name", &value), S_OK);
    VariantClear(&value);  // the bag keeps a copy of its own
    EXPECT_EQ(ReadString(bag, L"Name"), L"first");

    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"second");
    ASSERT_EQ(bag->Write(L"Name", &value), S_OK);
    VariantClear(&value);
    VARIANT any;
    VariantInit(&any);
    ASSERT_EQ(bag->Read(L"Name", &any, nullptr), S_OK);
    ASSERT_EQ(any.vt, VT_BSTR);
    EXPECT_STREQ(any.bstrVal, L"second");
    VARIANT again;
    VariantInit(&again);
    ASSERT_EQ(bag->Read(L"Name", &again, nullptr), S_OK);
    EXPECT_NE(again.bstrVal, any.bstrVal);  // each read owns its string
    VariantClear(&any);
    VariantClear(&again);

    value.vt = VT_I4;
    value.lVal = 42;
    ASSERT_EQ(bag->Write(L"Count", &value), S_OK);
    VARIANT number;
    VariantInit(&number);
    ASSERT_EQ(bag->Read(L"Count", &number, nullptr), S_OK);
    EXPECT_EQ(number.vt, VT_I4);
    EXPECT_EQ(number.lVal, 42);
    bag->Release();
}

TEST(ComPropertyBag, MissingNameOrOtherTypeFails)
{
    IPropertyBag* bag = NewBag();
    VARIANT value;
    value.vt = VT_I4;
    value.lVal = 1;
    ASSERT_EQ(bag->Write(L"Count", &value), S_OK);
    VARIANT read;
    VariantInit(&read);
    EXPECT_EQ(bag->Read(L"count", &read, nullptr), E_INVALIDARG);  // names are case-sensitive
    read.vt = VT_BSTR;
    EXPECT_EQ(bag->Read(L"Count", &read, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(bag->Read(L"Count", nullptr, nullptr), E_POINTER);
    EXPECT_EQ(bag->Write(nullptr, &value), E_POINTER);
    bag->Release();
}

namespace {

// Test devices in the video input category while the fixture lives, each making a TestObject with a
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
        return {name, CLSID_TestObject, [setting](IUnknown* outer, HRESULT*) -> CUnknown* {
                    return new TestObject(outer, setting);
                }};
    }

    // The category's enumerator, null when CreateClassEnumerator gives none; `hr` receives its result.
    static IEnumMoniker* Enumerate(REFCLSID category, HRESULT* hr)
    {
        ICreateDevEnum* devices = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 3, IID_ICreateDevEnum, (void**)&devices), S_OK);
        IEnumMoniker* monikers = reinterpret_cast<IEnumMoniker*>(untouched);
        *hr = devices ? devices->CreateClassEnumerator(category, &monikers, 0) : E_FAIL;
        if (devices)
            devices->Release();
        return monikers;
    }

    // The friendly names of the rest of an enumeration, taken one at a time.
    static std::vector<std::wstring> Names(IEnumMoniker* monikers)
    {
        std::vector<std::wstring> found;
        IMoniker* moniker = nullptr;
        while (monikers->Next(1, &moniker, nullptr) == S_OK) {
            IPropertyBag* bag = nullptr;
            EXPECT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, (void**)&bag), S_OK);
            found.push_back(bag ? ReadString(bag, L"FriendlyName") : L"<no bag>");
            if (bag)
                bag->Release();
            moniker->Release();
        }
        return found;
    }

    // The setting of the filter a moniker binds; -1 when it binds none.
    static int Bound(IMoniker* moniker)
    {
        ISetting* filter = nullptr;
        if (moniker->BindToObject(nullptr, nullptr, IID_ISetting, (void**)&filter) != S_OK || !filter)
            return -1;
        const int setting = filter->Setting();
        filter->Release();
        return setting;
    }
};

}  // namespace

TEST_F(ComDevices, CategoryWithoutDevicesGivesFalseAndNoEnumerator)
{
    for (const CLSID& category : {MakeGuid("00000000-1111-2222-3333-555555555555"), CLSID_VideoInputDeviceCategory}) {
        for (const WCHAR* name : names)
            Registry().Remove(CLSID_VideoInputDeviceCategory, name);
        HRESULT hr;
        EXPECT_EQ(Enumerate(category, &hr), nullptr);
        EXPECT_EQ(hr, S_FALSE);
    }
}

TEST_F(ComDevices, MonikersComeInRegistrationOrderWithNamesClassesAndFilters)
{
    HRESULT hr;
    IEnumMoniker* monikers = Enumerate(CLSID_VideoInputDeviceCategory, &hr);
    ASSERT_EQ(hr, S_OK);
    IMoniker* moniker[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(monikers->Next(4, moniker, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 3u);
    for (int i = 0; i < 3; ++i) {
        IPropertyBag* bag = nullptr;
        ASSERT_EQ(moniker[i]->BindToStorage(nullptr, nullptr, IID_IPropertyBag, (void**)&bag), S_OK);
        EXPECT_EQ(ReadString(bag, L"FriendlyName"), names[i]);
        EXPECT_EQ(ReadString(bag, L"CLSID"), L"{6D1C5B0E-8E0A-4C59-9A55-3C2F0E7A1B02}");
        bag->Release();
        EXPECT_EQ(Bound(moniker[i]), i);
    }
    void* none = untouched;
    EXPECT_EQ(moniker[0]->BindToObject(nullptr, nullptr, IID_IMediaDet, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(liveObjects, 0);  // every filter made went with its last reference
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(moniker[i]->Release(), 0u);
    monikers->Release();
}

TEST_F(ComDevices, EnumeratorSkipsResetsAndClonesItsPosition)
{
    HRESULT hr;
    IEnumMoniker* monikers = Enumerate(CLSID_VideoInputDeviceCategory, &hr);
    ASSERT_EQ(hr, S_OK);
    IMoniker* two[2];
    EXPECT_EQ(monikers->Next(2, two, nullptr), E_POINTER);  // more than one needs a count
    EXPECT_EQ(monikers->Skip(1), S_OK);
    IEnumMoniker* copy = nullptr;
    ASSERT_EQ(monikers->Clone(&copy), S_OK);
    EXPECT_EQ(Names(monikers), (std::vector<std::wstring>{names[1], names[2]}));
    EXPECT_EQ(Names(copy), (std::vector<std::wstring>{names[1], names[2]}));
    EXPECT_EQ(monikers->Skip(1), S_FALSE);
    EXPECT_EQ(monikers->Reset(), S_OK);
    EXPECT_EQ(monikers->Skip(4), S_FALSE);
    EXPECT_EQ(monikers->Reset(), S_OK);
    EXPECT_EQ(Names(monikers), (std::vector<std::wstring>{names[0], names[1], names[2]}));
    copy->Release();
    monikers->Release();
}

TEST_F(ComDevices, RemovedDeviceIsNotListedButItsMonikerStillBinds)
{
    HRESULT hr;
    IEnumMoniker* monikers = Enumerate(CLSID_VideoInputDeviceCategory, &hr);
    ASSERT_EQ(hr, S_OK);
    IMoniker* first = nullptr;
    ASSERT_EQ(monikers->Next(1, &first, nullptr), S_OK);
    monikers->Release();

    EXPECT_TRUE(Registry().Remove(CLSID_VideoInputDeviceCategory, names[0]));
    EXPECT_FALSE(Registry().Remove(CLSID_VideoInputDeviceCategory, names[0]));
    EXPECT_FALSE(Registry().Remove(CLSID_VideoCompressorCategory, names[1]));
    EXPECT_EQ(Bound(first), 0);
    first->Release();

    monikers = Enumerate(CLSID_VideoInputDeviceCategory, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(Names(monikers), (std::vector<std::wstring>{names[1], names[2]}));
    monikers->Release();
}

TEST_F(ComDevices, AddRefusesDuplicatesUnknownCategoriesAndIncompleteDevices)
{
    EXPECT_EQ(Registry().Add(CLSID_VideoInputDeviceCategory, Device(names[1], 9)), E_INVALIDARG);
    EXPECT_EQ(Registry().Add(CLSID_MediaDet, Device(L"Elsewhere", 9)), E_INVALIDARG);
    EXPECT_EQ(Registry().Add(CLSID_VideoInputDeviceCategory, Device(L"", 9)), E_INVALIDARG);
    EXPECT_EQ(Registry().Add(CLSID_VideoInputDeviceCategory, {L"No factory", CLSID_TestObject, {}}), E_INVALIDARG);
    // The same name may stand in another category.
    ASSERT_EQ(Registry().Add(CLSID_AudioCompressorCategory, Device(names[1], 9)), S_OK);
    EXPECT_TRUE(Registry().Remove(CLSID_AudioCompressorCategory, names[1]));
    EXPECT_EQ(Registry().Devices(CLSID_VideoInputDeviceCategory).size(), 3u);
}

TEST_F(ComDevices, RegistryStaysWholeWhileThreadsAddRemoveAndEnumerate)
{
    constexpr int threads = 4, rounds = 200;
    std::atomic<bool> broken{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t, &broken] {
            const std::wstring name = L"Thread device " + std::to_wstring(t);
            for (int round = 0; round < rounds; ++round) {
                if (Registry().Add(CLSID_VideoInputDeviceCategory, Device(name, t)) != S_OK)
                    broken = true;
                HRESULT hr;
                IEnumMoniker* monikers = Enumerate(CLSID_VideoInputDeviceCategory, &hr);
                const std::vector<std::wstring> listed = hr == S_OK ? Names(monikers) : std::vector<std::wstring>{};
                if (monikers)
                    monikers->Release();
                // Our own device is listed once, after the fixture's three, among distinct names.
                const std::set<std::wstring> distinct(listed.begin(), listed.end());
                if (listed.size() < 4 || distinct.size() != listed.size() || !distinct.count(name) ||
                    listed[0] != names[0])
                    broken = true;
                if (!Registry().Remove(CLSID_VideoInputDeviceCategory, name))
                    broken = true;
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_FALSE(broken);
    EXPECT_EQ(Registry().Devices(CLSID_VideoInputDeviceCategory).size(), 3u);
}
