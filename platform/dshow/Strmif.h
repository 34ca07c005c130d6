// The DirectShow interfaces, structures and result codes, by their Windows names.
#pragma once

#include "platform/com/PropertyBag.h"

typedef LONGLONG REFERENCE_TIME;
typedef double REFTIME;
typedef intptr_t LONG_PTR;
typedef HANDLE HEVENT;
typedef HANDLE HSEMAPHORE;

constexpr REFERENCE_TIME UNITS = 10000000;
constexpr REFERENCE_TIME MAX_TIME = 0x7FFFFFFFFFFFFFFFLL;

// Result codes
constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
constexpr HRESULT VFW_S_DUPLICATE_NAME = 0x0004022D;
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = 0x00040237;
constexpr HRESULT VFW_S_PARTIAL_RENDER = 0x00040242;
constexpr HRESULT VFW_S_CANT_CUE = 0x00040268;
constexpr HRESULT VFW_S_NO_STOP_TIME = 0x00040270;
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = HRESULT(0x80040200);
constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = HRESULT(0x80040203);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = HRESULT(0x80040204);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = HRESULT(0x80040207);
constexpr HRESULT VFW_E_INVALID_DIRECTION = HRESULT(0x80040208);
constexpr HRESULT VFW_E_NOT_CONNECTED = HRESULT(0x80040209);
constexpr HRESULT VFW_E_NO_ALLOCATOR = HRESULT(0x8004020A);
constexpr HRESULT VFW_E_RUNTIME_ERROR = HRESULT(0x8004020B);
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = HRESULT(0x8004020D);
constexpr HRESULT VFW_E_BADALIGN = HRESULT(0x8004020E);
constexpr HRESULT VFW_E_ALREADY_COMMITTED = HRESULT(0x8004020F);
constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = HRESULT(0x80040210);
constexpr HRESULT VFW_E_NOT_COMMITTED = HRESULT(0x80040211);
constexpr HRESULT VFW_E_SIZENOTSET = HRESULT(0x80040212);
constexpr HRESULT VFW_E_NO_CLOCK = HRESULT(0x80040213);
constexpr HRESULT VFW_E_NOT_FOUND = HRESULT(0x80040216);
constexpr HRESULT VFW_E_CANNOT_CONNECT = HRESULT(0x80040217);
constexpr HRESULT VFW_E_CANNOT_RENDER = HRESULT(0x80040218);
constexpr HRESULT VFW_E_STATE_CHANGED = HRESULT(0x80040223);
constexpr HRESULT VFW_E_NOT_STOPPED = HRESULT(0x80040224);
constexpr HRESULT VFW_E_NOT_PAUSED = HRESULT(0x80040225);
constexpr HRESULT VFW_E_NOT_RUNNING = HRESULT(0x80040226);
constexpr HRESULT VFW_E_WRONG_STATE = HRESULT(0x80040227);
constexpr HRESULT VFW_E_START_TIME_AFTER_END = HRESULT(0x80040228);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = HRESULT(0x8004022A);
constexpr HRESULT VFW_E_SAMPLE_REJECTED = HRESULT(0x8004022B);
constexpr HRESULT VFW_E_DUPLICATE_NAME = HRESULT(0x8004022D);
constexpr HRESULT VFW_E_TIMEOUT = HRESULT(0x8004022E);
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = HRESULT(0x8004022F);
constexpr HRESULT VFW_E_CIRCULAR_GRAPH = HRESULT(0x80040231);
constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = HRESULT(0x80040240);
constexpr HRESULT VFW_E_CANNOT_LOAD_SOURCE_FILTER = HRESULT(0x80040241);
constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = HRESULT(0x80040249);
constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = HRESULT(0x80040251);
constexpr HRESULT VFW_E_NO_TIME_FORMAT_SET = HRESULT(0x80040252);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = HRESULT(0x8004025F);

// Merits
constexpr DWORD MERIT_PREFERRED = 0x800000;
constexpr DWORD MERIT_NORMAL = 0x600000;
constexpr DWORD MERIT_UNLIKELY = 0x400000;
constexpr DWORD MERIT_DO_NOT_USE = 0x200000;

// Event codes
constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_USERABORT = 0x02;
constexpr LONG EC_ERRORABORT = 0x03;
constexpr LONG EC_REPAINT = 0x05;
constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
constexpr LONG EC_CLOCK_CHANGED = 0x0D;
constexpr LONG EC_PAUSED = 0x0E;
constexpr LONG EC_END_OF_SEGMENT = 0x1C;

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;  // CoTaskMem memory, owned by the structure
};

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

#define MAX_PIN_NAME 128
#define MAX_FILTER_NAME 128

struct IBaseFilter;
struct IFilterGraph;
struct IPin;
struct IMemAllocator;
struct IReferenceClock;

struct PIN_INFO {
    IBaseFilter* pFilter;  // counted
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph;  // counted
};

#pragma pack(push, 1)
struct RECT {
    LONG left, top, right, bottom;
};
#pragma pack(pop)

// The fixed 88-byte video format header (no palette, no masks follow in this structure).
struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88, "VIDEOINFOHEADER layout");

// The header with room for a palette or colour masks after it: the size a video format block is
// given when it is made.
struct VIDEOINFO : VIDEOINFOHEADER {
    DWORD dwBitMasks[3];
    DWORD bmiColors[256];
};
static_assert(sizeof(VIDEOINFO) == 1128, "VIDEOINFO layout");

// The bytes of a picture: rows of whole 32-bit words, times the absolute height.
DWORD GetBitmapSize(const BITMAPINFOHEADER* header);
// The subtype that names a header's pixel format: the uncompressed RGB ones by bit count, YUV ones
// by their FOURCC; GUID_NULL for a header without a format.
GUID GetBitmapSubtype(const BITMAPINFOHEADER* header);

struct DVINFO {
    DWORD dwDVAAuxSrc;
    DWORD dwDVAAuxCtl;
    DWORD dwDVAAuxSrc1;
    DWORD dwDVAAuxCtl1;
    DWORD dwDVVAuxSrc;
    DWORD dwDVVAuxCtl;
    DWORD dwDVReserved[2];
};

struct IEnumMediaTypes : IUnknown {
    virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes** copy) = 0;
};

struct IPin : IUnknown {
    virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
    virtual HRESULT QueryId(LPWSTR* id) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) = 0;
    virtual HRESULT QueryInternalConnections(IPin** pins, ULONG* count) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};

struct IEnumPins : IUnknown {
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins** copy) = 0;
};

struct IReferenceClock : IUnknown {
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
    virtual HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                               DWORD_PTR* cookie) = 0;
    virtual HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                                   DWORD_PTR* cookie) = 0;
    virtual HRESULT Unadvise(DWORD_PTR cookie) = 0;
};

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* clsid) = 0;
};

struct IMediaFilter : IPersist {
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;
};

struct IBaseFilter : IMediaFilter {
    virtual HRESULT EnumPins(IEnumPins** enumerator) = 0;
    virtual HRESULT FindPin(LPCWSTR id, IPin** pin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
    virtual HRESULT QueryVendorInfo(LPWSTR* vendorInfo) = 0;
};

struct IEnumFilters : IUnknown {
    virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters** copy) = 0;
};

struct IMediaSample : IUnknown {
    virtual HRESULT GetPointer(BYTE** buffer) = 0;
    virtual LONG GetSize() = 0;
    virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT IsSyncPoint() = 0;
    virtual HRESULT SetSyncPoint(BOOL syncPoint) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL preroll) = 0;
    virtual LONG GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(LONG length) = 0;
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** type) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;
    virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
    virtual HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
};

#define AM_GBF_PREVFRAMESKIPPED 1
#define AM_GBF_NOTASYNCPOINT 2
#define AM_GBF_NOWAIT 4

struct IMemAllocator : IUnknown {
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) = 0;
    virtual HRESULT Commit() = 0;
    virtual HRESULT Decommit() = 0;
    virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) = 0;
    virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0;
};

struct IMemInputPin : IUnknown {
    virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) = 0;
    virtual HRESULT Receive(IMediaSample* sample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;
};

struct IFilterGraph : IUnknown {
    virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** enumerator) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
    virtual HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Reconnect(IPin* pin) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;
};

struct IGraphBuilder : IFilterGraph {
    virtual HRESULT Connect(IPin* output, IPin* input) = 0;
    virtual HRESULT Render(IPin* output) = 0;
    virtual HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) = 0;
    virtual HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter) = 0;
    virtual HRESULT SetLogFile(DWORD_PTR file) = 0;
    virtual HRESULT Abort() = 0;
    virtual HRESULT ShouldOperationContinue() = 0;
};

typedef LONG OAFilterState;
typedef LONG_PTR OAEVENT;
typedef LONG_PTR OAHWND;

// IDispatch's members are left out: nothing here is scripted.
struct IMediaControl : IUnknown {
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    // A negative time-out waits without end.
    virtual HRESULT GetState(LONG milliseconds, OAFilterState* state) = 0;
    virtual HRESULT RenderFile(BSTR file) = 0;
    virtual HRESULT AddSourceFilter(BSTR file, IUnknown** filter) = 0;
    virtual HRESULT StopWhenReady() = 0;
};

struct IMediaEvent : IUnknown {
    virtual HRESULT GetEventHandle(OAEVENT* event) = 0;
    virtual HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG milliseconds) = 0;
    virtual HRESULT WaitForCompletion(LONG milliseconds, LONG* code) = 0;
    virtual HRESULT CancelDefaultHandling(LONG code) = 0;
    virtual HRESULT RestoreDefaultHandling(LONG code) = 0;
    virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

#define AM_MEDIAEVENT_NONOTIFY 0x01

struct IMediaEventEx : IMediaEvent {
    virtual HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) = 0;
    // AM_MEDIAEVENT_NONOTIFY empties the queue and keeps it empty.
    virtual HRESULT SetNotifyFlags(LONG flags) = 0;
    virtual HRESULT GetNotifyFlags(LONG* flags) = 0;
};

struct IMediaEventSink : IUnknown {
    virtual HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

enum AM_SEEKING_SEEKING_CAPABILITIES {
    AM_SEEKING_CanSeekAbsolute = 0x1,
    AM_SEEKING_CanSeekForwards = 0x2,
    AM_SEEKING_CanSeekBackwards = 0x4,
    AM_SEEKING_CanGetCurrentPos = 0x8,
    AM_SEEKING_CanGetStopPos = 0x10,
    AM_SEEKING_CanGetDuration = 0x20,
    AM_SEEKING_CanPlayBackwards = 0x40,
    AM_SEEKING_CanDoSegments = 0x80,
    AM_SEEKING_Source = 0x100,
};

enum AM_SEEKING_SEEKING_FLAGS {
    AM_SEEKING_NoPositioning = 0,
    AM_SEEKING_AbsolutePositioning = 0x1,
    AM_SEEKING_RelativePositioning = 0x2,
    AM_SEEKING_IncrementalPositioning = 0x3,
    AM_SEEKING_PositioningBitsMask = 0x3,
    AM_SEEKING_SeekToKeyFrame = 0x4,
    AM_SEEKING_ReturnTime = 0x8,
    AM_SEEKING_Segment = 0x10,
    AM_SEEKING_NoFlush = 0x20,
};

struct IMediaSeeking : IUnknown {
    virtual HRESULT GetCapabilities(DWORD* capabilities) = 0;
    virtual HRESULT CheckCapabilities(DWORD* capabilities) = 0;
    virtual HRESULT IsFormatSupported(const GUID* format) = 0;
    virtual HRESULT QueryPreferredFormat(GUID* format) = 0;
    virtual HRESULT GetTimeFormat(GUID* format) = 0;
    virtual HRESULT IsUsingTimeFormat(const GUID* format) = 0;
    virtual HRESULT SetTimeFormat(const GUID* format) = 0;
    virtual HRESULT GetDuration(LONGLONG* duration) = 0;
    virtual HRESULT GetStopPosition(LONGLONG* stop) = 0;
    virtual HRESULT GetCurrentPosition(LONGLONG* current) = 0;
    virtual HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                      const GUID* sourceFormat) = 0;
    virtual HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) = 0;
    virtual HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) = 0;
    virtual HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) = 0;
    virtual HRESULT SetRate(double rate) = 0;
    virtual HRESULT GetRate(double* rate) = 0;
    virtual HRESULT GetPreroll(LONGLONG* preroll) = 0;
};

struct IFileSourceFilter : IUnknown {
    virtual HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) = 0;
};

struct IFileSinkFilter : IUnknown {
    virtual HRESULT SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) = 0;
};

#define AM_FILTER_MISC_FLAGS_IS_RENDERER 0x1
#define AM_FILTER_MISC_FLAGS_IS_SOURCE 0x2

struct IAMFilterMiscFlags : IUnknown {
    virtual ULONG GetMiscFlags() = 0;
};

struct Quality {
    int Type;
    LONG Proportion;
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};

struct IQualityControl : IUnknown {
    virtual HRESULT Notify(IBaseFilter* self, Quality quality) = 0;
    virtual HRESULT SetSink(IQualityControl* sink) = 0;
};

// The DV decoder's display size.
constexpr int DVRESOLUTION_FULL = 1000;
constexpr int DVRESOLUTION_HALF = 1001;
constexpr int DVRESOLUTION_QUARTER = 1002;
constexpr int DVRESOLUTION_DC = 1003;

struct IIPDVDec : IUnknown {
    virtual HRESULT get_IPDisplay(int* displayPix) = 0;
    virtual HRESULT put_IPDisplay(int displayPix) = 0;
};

// The AVI multiplexer's settings.
struct IConfigAviMux : IUnknown {
    virtual HRESULT SetMasterStream(LONG stream) = 0;
    virtual HRESULT GetMasterStream(LONG* stream) = 0;
    // TRUE also writes the old "idx1" index beside the OpenDML indexes.
    virtual HRESULT SetOutputCompatibilityIndex(BOOL oldIndex) = 0;
    virtual HRESULT GetOutputCompatibilityIndex(BOOL* oldIndex) = 0;
};

enum InterleavingMode { INTERLEAVE_NONE = 0, INTERLEAVE_CAPTURE = 1, INTERLEAVE_FULL = 2, INTERLEAVE_NONE_BUFFERED = 3 };

struct IConfigInterleaving : IUnknown {
    virtual HRESULT put_Mode(InterleavingMode mode) = 0;
    virtual HRESULT get_Mode(InterleavingMode* mode) = 0;
    virtual HRESULT put_Interleaving(const REFERENCE_TIME* interleave, const REFERENCE_TIME* preroll) = 0;
    virtual HRESULT get_Interleaving(REFERENCE_TIME* interleave, REFERENCE_TIME* preroll) = 0;
};

// The DV encoder's output format.
constexpr int DVENCODERVIDEOFORMAT_NTSC = 2000;
constexpr int DVENCODERVIDEOFORMAT_PAL = 2001;
constexpr int DVENCODERFORMAT_DVSD = 2007;
constexpr int DVENCODERFORMAT_DVHD = 2008;
constexpr int DVENCODERFORMAT_DVSL = 2009;
constexpr int DVENCODERRESOLUTION_720x480 = 2012;
constexpr int DVENCODERRESOLUTION_360x240 = 2013;
constexpr int DVENCODERRESOLUTION_180x120 = 2014;
constexpr int DVENCODERRESOLUTION_88x60 = 2015;

struct IDVEnc : IUnknown {
    virtual HRESULT get_IFormatResolution(int* videoFormat, int* dvFormat, int* resolution, BYTE dvInfoWanted,
                                          DVINFO* dvInfo) = 0;
    virtual HRESULT put_IFormatResolution(int videoFormat, int dvFormat, int resolution, BYTE dvInfoGiven,
                                          DVINFO* dvInfo) = 0;
};

// A counted array of GUIDs, its elements from CoTaskMemAlloc.
struct CAUUID {
    ULONG cElems;
    GUID* pElems;
};

// The pages of a filter's settings; OleCreatePropertyFrame shows them.
struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT GetPages(CAUUID* pages) = 0;
};

// A codec's own dialogs.
constexpr int VfwCompressDialog_Config = 0x01;
constexpr int VfwCompressDialog_About = 0x02;
constexpr int VfwCompressDialog_QueryConfig = 0x04;
constexpr int VfwCompressDialog_QueryAbout = 0x08;

struct IAMVfwCompressDialogs : IUnknown {
    virtual HRESULT ShowDialog(int dialog, HWND parent) = 0;
    virtual HRESULT GetState(LPVOID state, int* size) = 0;
    virtual HRESULT SetState(LPVOID state, int size) = 0;
    virtual LRESULT SendDriverMessage(int message, LONG parameter1, LONG parameter2) = 0;
};

// The media detector.
struct IMediaDet : IUnknown {
    virtual HRESULT get_Filter(IUnknown** filter) = 0;
    virtual HRESULT put_Filter(IUnknown* filter) = 0;
    virtual HRESULT get_OutputStreams(LONG* count) = 0;
    virtual HRESULT get_CurrentStream(LONG* stream) = 0;
    virtual HRESULT put_CurrentStream(LONG stream) = 0;
    virtual HRESULT get_StreamType(GUID* type) = 0;
    virtual HRESULT get_StreamTypeB(BSTR* type) = 0;
    virtual HRESULT get_StreamLength(double* seconds) = 0;
    virtual HRESULT get_Filename(BSTR* fileName) = 0;
    virtual HRESULT put_Filename(BSTR fileName) = 0;
    virtual HRESULT GetBitmapBits(double time, LONG* size, char* buffer, LONG width, LONG height) = 0;
    virtual HRESULT WriteBitmapBits(double time, LONG width, LONG height, BSTR fileName) = 0;
    virtual HRESULT get_StreamMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT GetSampleGrabber(IUnknown** grabber) = 0;
    virtual HRESULT get_FrameRate(double* rate) = 0;
    virtual HRESULT EnterBitmapGrabMode(double seconds) = 0;
};

// Frees the format block (and the held IUnknown) of a media type, or a whole CoTaskMem one.
void FreeMediaType(AM_MEDIA_TYPE& type);
void DeleteMediaType(AM_MEDIA_TYPE* type);
// Deep copy: the target gets its own format block.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);
