// The class, interface, media type and format identifiers the library and its platform use, with
// their published values.
#pragma once

#include "Guid.h"

// COM
inline constexpr IID IID_IUnknown = MakeGuid("00000000-0000-0000-C000-000000000046");
inline constexpr IID IID_IPersist = MakeGuid("0000010C-0000-0000-C000-000000000046");
inline constexpr IID IID_IMoniker = MakeGuid("0000000F-0000-0000-C000-000000000046");
inline constexpr IID IID_IEnumMoniker = MakeGuid("00000102-0000-0000-C000-000000000046");
inline constexpr IID IID_IPropertyBag = MakeGuid("55272A00-42CB-11CE-8135-00AA004BB851");
inline constexpr IID IID_ISpecifyPropertyPages = MakeGuid("B196B28B-BAB4-101A-B69C-00AA00341D07");

// Classes
inline constexpr CLSID CLSID_FilterGraph = MakeGuid("E436EBB3-524F-11CE-9F53-0020AF0BA770");
inline constexpr CLSID CLSID_AsyncReader = MakeGuid("E436EBB5-524F-11CE-9F53-0020AF0BA770");
inline constexpr CLSID CLSID_SystemClock = MakeGuid("E436EBB1-524F-11CE-9F53-0020AF0BA770");
inline constexpr CLSID CLSID_MemoryAllocator = MakeGuid("1E651CC0-B199-11D0-8212-00C04FC32C45");
inline constexpr CLSID CLSID_AviDest = MakeGuid("E2510970-F137-11CE-8B67-00AA00A3F1A6");
inline constexpr CLSID CLSID_FileWriter = MakeGuid("8596E5F0-0DA5-11D0-BD21-00A0C911CE86");
inline constexpr CLSID CLSID_DVMux = MakeGuid("129D7E40-C10D-11D0-AFB9-00AA00B67A42");
inline constexpr CLSID CLSID_DVVideoEnc = MakeGuid("13AA3650-BB6F-11D0-AFB9-00AA00B67A42");
inline constexpr CLSID CLSID_DVVideoCodec = MakeGuid("B1B77C00-C3E4-11CF-AF79-00AA00B67A42");
inline constexpr CLSID CLSID_WMAsfReader = MakeGuid("187463A0-5BB7-11D3-ACBE-0080C75E246E");
inline constexpr CLSID CLSID_WMAsfWriter = MakeGuid("7C23220E-55BB-11D3-8B16-00C04FB6BD3D");
inline constexpr CLSID CLSID_SystemDeviceEnum = MakeGuid("62BE5D10-60EB-11D0-BD3B-00A0C911CE86");
inline constexpr CLSID CLSID_MediaDet = MakeGuid("65BD0711-24D2-4FF7-9324-ED2E5D3ABAFA");
inline constexpr CLSID CLSID_VideoCompressorCategory = MakeGuid("33D9A760-90C8-11D0-BD43-00A0C911CE86");
inline constexpr CLSID CLSID_AudioCompressorCategory = MakeGuid("33D9A761-90C8-11D0-BD43-00A0C911CE86");
inline constexpr CLSID CLSID_VideoInputDeviceCategory = MakeGuid("860BB310-5D01-11D0-BD3B-00A0C911CE86");
// The library's own filters, created directly.
inline constexpr CLSID CLSID_DShowSpecialOutput = MakeGuid("140AAE63-5DFC-4E27-9689-C11562052D93");
inline constexpr CLSID CLSID_DShowVideoWriter = MakeGuid("56B2E61F-6890-46DC-8837-ACA2B087E84E");
inline constexpr CLSID CLSID_DVDeviceRenderer = MakeGuid("BF5E2FBD-1D9A-4658-B88B-DFBF5864AB28");
// The platform's decoders, which intelligent connect puts behind the sources.
inline constexpr CLSID CLSID_VideoDecoder = MakeGuid("EB044ACA-0D6C-45E9-B757-FE587A441E4C");
inline constexpr CLSID CLSID_AudioDecoder = MakeGuid("5A1DC26A-E8CA-44BA-9BDA-DC63C7A17E93");

// Media types, subtypes, formats, time formats
inline constexpr GUID MEDIATYPE_Video = MakeGuid("73646976-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIATYPE_Audio = MakeGuid("73647561-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIATYPE_Stream = MakeGuid("E436EB83-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIATYPE_Interleaved = MakeGuid("73766169-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_UYVY = MakeGuid("59565955-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_YUY2 = MakeGuid("32595559-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_RGB24 = MakeGuid("E436EB7D-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB32 = MakeGuid("E436EB7E-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_PCM = MakeGuid("00000001-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_dvsd = MakeGuid("64737664-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_Avi = MakeGuid("E436EB88-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID FORMAT_None = MakeGuid("0F6417D6-C318-11D0-A43F-00A0C9223196");
inline constexpr GUID FORMAT_VideoInfo = MakeGuid("05589F80-C356-11CE-BF01-00AA0055595A");
inline constexpr GUID FORMAT_WaveFormatEx = MakeGuid("05589F81-C356-11CE-BF01-00AA0055595A");
inline constexpr GUID FORMAT_DvInfo = MakeGuid("05589F84-C356-11CE-BF01-00AA0055595A");
inline constexpr GUID TIME_FORMAT_MEDIA_TIME = MakeGuid("7B785574-8C82-11CF-BC0C-00AA00AC74F6");

// DirectShow interfaces
inline constexpr IID IID_IPin = MakeGuid("56A86891-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IEnumPins = MakeGuid("56A86892-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IEnumFilters = MakeGuid("56A86893-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IEnumMediaTypes = MakeGuid("89C31040-846B-11CE-97D3-00AA0055595A");
inline constexpr IID IID_IBaseFilter = MakeGuid("56A86895-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaFilter = MakeGuid("56A86899-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IReferenceClock = MakeGuid("56A86897-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMemInputPin = MakeGuid("56A8689D-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMemAllocator = MakeGuid("56A8689C-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaSample = MakeGuid("56A8689A-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaSample2 = MakeGuid("36B73884-C2C8-11CF-8B46-00805F6CEF60");
inline constexpr IID IID_IQualityControl = MakeGuid("56A868A5-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IFilterGraph = MakeGuid("56A8689F-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IGraphBuilder = MakeGuid("56A868A9-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IFilterGraph2 = MakeGuid("36B73882-C2C8-11CF-8B46-00805F6CEF60");
inline constexpr IID IID_IMediaControl = MakeGuid("56A868B1-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaEvent = MakeGuid("56A868B6-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaEventEx = MakeGuid("56A868C0-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaEventSink = MakeGuid("56A868A2-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaSeeking = MakeGuid("36B73880-C2C8-11CF-8B46-00805F6CEF60");
inline constexpr IID IID_IMediaPosition = MakeGuid("56A868B2-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IFileSourceFilter = MakeGuid("56A868A6-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IFileSinkFilter = MakeGuid("A2104830-7C70-11CF-8BCE-00AA00A3F1A6");
inline constexpr IID IID_IFileSinkFilter2 = MakeGuid("00855B90-CE1B-11D0-BD4F-00A0C911CE86");
inline constexpr IID IID_IAMFilterMiscFlags = MakeGuid("2DD74950-A890-11D1-ABE8-00A0C905F375");
inline constexpr IID IID_IAMovieSetup = MakeGuid("A3D8CEC0-7E5A-11CF-BBC5-00805F6CEF20");
inline constexpr IID IID_ICreateDevEnum = MakeGuid("29840822-5B84-11D0-BD3B-00A0C911CE86");
inline constexpr IID IID_IMediaDet = MakeGuid("65BD0710-24D2-4FF7-9324-ED2E5D3ABAFA");
inline constexpr IID IID_IDVEnc = MakeGuid("D18E17A0-AACB-11D0-AFB0-00AA00B67A42");
inline constexpr IID IID_IIPDVDec = MakeGuid("B8E8BD60-0BFE-11D0-AF91-00AA00B67A42");
inline constexpr IID IID_IConfigAviMux = MakeGuid("5ACD6AA0-F482-11CE-8B67-00AA00A3F1A6");
inline constexpr IID IID_IConfigInterleaving = MakeGuid("BEE3D220-157B-11D0-BD23-00A0C911CE86");
inline constexpr IID IID_IAMVfwCompressDialogs = MakeGuid("D8D715A3-6E5E-11D0-B3F0-00AA003761C5");
