#pragma once

#include <cstddef>
#include <cstdint>

// The camera layer the rest of the program calls: factory, camera discovery and control, data
// streams, events and image rotation. Every function returns a status, 0 for success. Handles are
// opaque; texts are narrow and NUL-terminated. The product links the GigE Vision implementation
// (over Aravis); unit tests link a scripted in-process fake with the same functions.
//
// Thread safety: a camera handle may be used by the GUI thread (exposure mode) while the capture
// thread runs its commands; J_Event_ExitCondition may be called from any thread; everything else
// of one stream is used by one thread at a time.

using J_STATUS_TYPE = std::int32_t;
using FACTORY_HANDLE = void*;
using CAM_HANDLE = void*;
using STREAM_HANDLE = void*;
using BUF_HANDLE = void*;
using EVENT_HANDLE = void*;
using CONDITION_HANDLE = void*;

constexpr J_STATUS_TYPE J_ST_SUCCESS = 0;
constexpr J_STATUS_TYPE J_ST_ERROR = -1;

// J_Factory_GetInfo items.
constexpr int FAC_INFO_VERSION = 0;
// J_Factory_GetCameraInfo items.
constexpr int CAM_INFO_MODELNAME = 2;
constexpr int CAM_INFO_IP = 1001;
// J_DataStream_SetParam parameters.
constexpr int STREAM_PARAM_BUFFER_HANDLING = 3;
// J_DataStream_RegisterEvent / UnRegisterEvent kinds.
constexpr int EVENT_NEW_BUFFER = 1;
// J_DataStream_StartAcquisition / StopAcquisition flags.
constexpr int ACQ_START_NEXT_IMAGE = 1;
constexpr int ACQ_STOP_FLAG_KILL = 1;
constexpr std::uint64_t ACQ_INFINITE = ~std::uint64_t{0};
// J_DataStream_FlushQueue selectors.
constexpr int ACQ_QUEUE_INPUT_TO_OUTPUT = 0;
constexpr int ACQ_QUEUE_OUTPUT_DISCARD = 1;
// J_DataStream_GetStreamInfo items (each an unsigned 64-bit counter).
constexpr int STREAM_INFO_NUM_DELIVERED = 1;
constexpr int STREAM_INFO_NUM_UNDERRUN = 2; // frames lost for want of a queued buffer
constexpr int STREAM_INFO_NUM_AWAIT_DELIVERY = 5;
constexpr int STREAM_INFO_NUM_CORRUPT = 1002; // incomplete frames, never delivered
// J_DataStream_GetBufferInfo items, with the size of their value in bytes.
constexpr int BUFFER_INFO_BASE = 0;                   // 8: address of the image data
constexpr int BUFFER_INFO_SIZE = 1;                   // 4: image size in bytes
constexpr int BUFFER_INFO_TIMESTAMP = 3;              // 8
constexpr int BUFFER_INFO_NUMBER_OF_QUEUED = 4;       // 8: buffers in the input queue
constexpr int BUFFER_INFO_WIDTH = 10;                 // 4
constexpr int BUFFER_INFO_HEIGHT = 11;                // 4
constexpr int BUFFER_INFO_XOFFSET = 12;               // 4
constexpr int BUFFER_INFO_YOFFSET = 13;               // 4
constexpr int BUFFER_INFO_XPADDING = 14;              // 4
constexpr int BUFFER_INFO_BLOCKID = 16;               // 8
constexpr int BUFFER_INFO_PIXELTYPE = 20;             // 8: GenICam pixel format code
constexpr int BUFFER_INFO_NUM_PACKETS_MISSING = 1001; // 4
// GigE Vision pixel formats, as BUFFER_INFO_PIXELTYPE and the PixelFormat node give them; bits 16
// to 23 hold the bits per pixel.
constexpr std::int64_t J_GVSP_PIX_MONO8 = 0x01080001;
constexpr std::int64_t J_GVSP_PIX_MONO12 = 0x01100005;
constexpr std::int64_t J_GVSP_PIX_MONO16 = 0x01100007;
constexpr std::int64_t J_GVSP_PIX_MONO12_PACKED = 0x010C0006;
// J_Event_WaitForCondition results.
constexpr std::uint32_t J_COND_WAIT_TIMEOUT = 0;
constexpr std::uint32_t J_COND_WAIT_SIGNAL = 1;
constexpr std::uint32_t J_COND_WAIT_EXIT = 2;
constexpr std::uint32_t J_COND_WAIT_ERROR = 0xFFFFFFFFu;
// J_Image_Rotate kinds.
constexpr int J_ROTATE_180 = 2;

// The 80-byte image record that J_Image_Rotate takes, filled from the buffer information.
struct J_tIMAGE_INFO {
    std::uint64_t iPixelType;        // 0
    std::uint32_t iSizeX;            // 8
    std::uint32_t iSizeY;            // 12
    std::uint32_t iImageSize;        // 16
    std::uint8_t* pImageBuffer;      // 24
    std::uint64_t iTimeStamp;        // 32
    std::uint32_t iMissingPackets;   // 40
    std::uint32_t iAnnouncedBuffers; // 44
    std::uint32_t iQueuedBuffers;    // 48
    std::uint32_t iOffsetX;          // 52
    std::uint32_t iOffsetY;          // 56
    std::uint32_t iAwaitDelivery;    // 60
    std::uint64_t iBlockId;          // 64
    std::uint32_t iPaddingX;         // 72
    std::uint32_t iImageStatus;      // 76
};
static_assert(sizeof(J_tIMAGE_INFO) == 80, "image record layout");

// The data of an EVENT_NEW_BUFFER event, as J_Event_GetData delivers it (16 bytes).
struct EVENT_NEW_BUFFER_DATA {
    BUF_HANDLE BufferHandle;
    void* pUserPointer;
};

J_STATUS_TYPE J_Factory_Open(const char* private_data_path, FACTORY_HANDLE* factory);
J_STATUS_TYPE J_Factory_Close(FACTORY_HANDLE factory);
J_STATUS_TYPE J_Factory_GetInfo(int item, char* buffer, std::uint32_t* size);
J_STATUS_TYPE J_Factory_UpdateCameraList(FACTORY_HANDLE factory, bool* changed);
J_STATUS_TYPE J_Factory_GetNumOfCameras(FACTORY_HANDLE factory, std::uint32_t* count);
J_STATUS_TYPE J_Factory_GetCameraIDByIndex(FACTORY_HANDLE factory, std::int32_t index, char* buffer,
                                           std::uint32_t* size);
J_STATUS_TYPE J_Factory_GetCameraInfo(FACTORY_HANDLE factory, const char* camera_id, int item,
                                      char* buffer, std::uint32_t* size);

J_STATUS_TYPE J_Camera_Open(FACTORY_HANDLE factory, const char* camera_id, CAM_HANDLE* camera,
                            int reserved);
J_STATUS_TYPE J_Camera_Close(CAM_HANDLE camera);
J_STATUS_TYPE J_Camera_GetValueInt64(CAM_HANDLE camera, const char* node, std::int64_t* value);
J_STATUS_TYPE J_Camera_SetValueString(CAM_HANDLE camera, const char* node, const char* value);
J_STATUS_TYPE J_Camera_ExecuteCommand(CAM_HANDLE camera, const char* node);
J_STATUS_TYPE J_Camera_GetNumOfDataStreams(CAM_HANDLE camera, std::uint32_t* count);
J_STATUS_TYPE J_Camera_CreateDataStream(CAM_HANDLE camera, std::uint32_t index,
                                        STREAM_HANDLE* stream);

J_STATUS_TYPE J_DataStream_SetParam(STREAM_HANDLE stream, int param, const void* value,
                                    std::uint32_t* size);
J_STATUS_TYPE J_DataStream_AnnounceBuffer(STREAM_HANDLE stream, void* memory, std::uint32_t size,
                                          void* private_data, BUF_HANDLE* buffer);
J_STATUS_TYPE J_DataStream_QueueBuffer(STREAM_HANDLE stream, BUF_HANDLE buffer);
J_STATUS_TYPE J_DataStream_RegisterEvent(STREAM_HANDLE stream, int kind, CONDITION_HANDLE condition,
                                         EVENT_HANDLE* event);
J_STATUS_TYPE J_DataStream_StartAcquisition(STREAM_HANDLE stream, int flags,
                                            std::uint64_t image_count);
J_STATUS_TYPE J_DataStream_GetBufferInfo(STREAM_HANDLE stream, BUF_HANDLE buffer, int item,
                                         void* value, std::uint32_t* size);
J_STATUS_TYPE J_DataStream_GetStreamInfo(STREAM_HANDLE stream, int item, void* value,
                                         std::uint32_t* size);
J_STATUS_TYPE J_DataStream_UnRegisterEvent(STREAM_HANDLE stream, int kind);
J_STATUS_TYPE J_DataStream_StopAcquisition(STREAM_HANDLE stream, int flags);
J_STATUS_TYPE J_DataStream_FlushQueue(STREAM_HANDLE stream, int queue);
J_STATUS_TYPE J_DataStream_RevokeBuffer(STREAM_HANDLE stream, BUF_HANDLE buffer, void** memory,
                                        void** private_data);
J_STATUS_TYPE J_DataStream_Close(STREAM_HANDLE stream);

J_STATUS_TYPE J_Event_CreateCondition(CONDITION_HANDLE* condition);
J_STATUS_TYPE J_Event_WaitForCondition(CONDITION_HANDLE condition, std::uint32_t timeout_ms,
                                       std::uint32_t* result);
J_STATUS_TYPE J_Event_GetData(EVENT_HANDLE event, void* data, std::uint32_t* size);
J_STATUS_TYPE J_Event_ExitCondition(CONDITION_HANDLE condition);
J_STATUS_TYPE J_Event_Close(EVENT_HANDLE event);
J_STATUS_TYPE J_Event_CloseCondition(CONDITION_HANDLE condition);

J_STATUS_TYPE J_Image_Rotate(J_tIMAGE_INFO* image, int kind);
