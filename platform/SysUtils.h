// Base types of the platform layer: the object root, the exception hierarchy, the
// always-on assertion, notify events and a few number helpers with Windows semantics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace kv {

class TObject {
public:
    TObject() = default;
    virtual ~TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual std::string ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }

private:
    std::string FMessage;
};

#define KV_DECLARE_EXCEPTION(Name, Base)                                                                               \
    class Name : public Base {                                                                                         \
    public:                                                                                                            \
        using Base::Base;                                                                                              \
    };

KV_DECLARE_EXCEPTION(EAbort, Exception)
KV_DECLARE_EXCEPTION(EAssertionFailed, Exception)
KV_DECLARE_EXCEPTION(EConvertError, Exception)
KV_DECLARE_EXCEPTION(EOutOfMemory, Exception)
KV_DECLARE_EXCEPTION(EOutOfResources, Exception)
KV_DECLARE_EXCEPTION(EResNotFound, Exception) // "Resource NAME not found"
KV_DECLARE_EXCEPTION(EInvalidOperation, Exception)
KV_DECLARE_EXCEPTION(EInvalidPointer, Exception)
KV_DECLARE_EXCEPTION(EListError, Exception)
KV_DECLARE_EXCEPTION(EStringListError, Exception)
KV_DECLARE_EXCEPTION(EStreamError, Exception)
KV_DECLARE_EXCEPTION(EFilerError, EStreamError)
KV_DECLARE_EXCEPTION(EReadError, EFilerError)
KV_DECLARE_EXCEPTION(EWriteError, EFilerError)
KV_DECLARE_EXCEPTION(EFCreateError, EStreamError)
KV_DECLARE_EXCEPTION(EFOpenError, EStreamError)
KV_DECLARE_EXCEPTION(EInOutError, Exception)
KV_DECLARE_EXCEPTION(EInvalidGraphic, Exception)
KV_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception)
KV_DECLARE_EXCEPTION(EOSError, Exception)
KV_DECLARE_EXCEPTION(ERangeError, Exception)
KV_DECLARE_EXCEPTION(EIntOverflow, Exception)
KV_DECLARE_EXCEPTION(EZeroDivide, Exception)
KV_DECLARE_EXCEPTION(EThread, Exception)

// Always on, whatever the build type: the program's assertions guard invariants
// (paired BeginUpdate/EndUpdate) and name the place in their message.
inline void Assert(bool condition, const std::string& message)
{
    if (!condition)
        throw EAssertionFailed(message);
}

// Raises EAbort, the silent exception: the handler wrapper shows no message for it.
[[noreturn]] void Abort();

// Below 0 -> 0, above 255 -> 255: the clamp of every pixel formula.
inline int32_t ClampByte(int32_t Value) { return Value < 0 ? 0 : Value > 255 ? 255 : Value; }

// A * B / C with a 64-bit intermediate, rounded half away from zero; -1 when C is 0
// or the result does not fit in 32 bits (Windows MulDiv).
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// Integer/float to string and back, as the program's messages and settings files use them.
std::string IntToStr(int64_t value);
int32_t StrToInt(const std::string& s); // EConvertError "'x' is not a valid integer value"
int32_t StrToIntDef(const std::string& s, int32_t defaultValue);
std::string UpperCase(const std::string& s); // ASCII only, like the platform
std::string LowerCase(const std::string& s);
std::string Trim(const std::string& s);
std::string ExtractFileExt(const std::string& fileName); // ".ext" with the dot, as written
std::string ExtractFileName(const std::string& fileName);
std::string ExtractFilePath(const std::string& fileName); // with the trailing separator
std::string ChangeFileExt(const std::string& fileName, const std::string& ext);
bool FileExists(const std::string& fileName);
bool DirectoryExists(const std::string& dir);
bool DeleteFile(const std::string& fileName);
std::string IncludeTrailingPathDelimiter(const std::string& dir);

// Milliseconds since an arbitrary start, monotonic (GetTickCount / timeGetTime).
uint32_t GetTickCount();

// The one checked place for pixel-buffer sizes: sides above 65535, negative sides and
// buffers above 2^28 pixels are refused with a clear error.
constexpr int64_t MaxPixelSide = 65535;
constexpr int64_t MaxPixelCount = int64_t(1) << 28;
void CheckPixelBufferSize(int64_t width, int64_t height, const char* what);
// The same rule as a yes/no, for readers that answer a refused size with their own
// error; PixelBufferSizeMessage is the text CheckPixelBufferSize raises with.
bool PixelBufferSizeOk(int64_t width, int64_t height);
std::string PixelBufferSizeMessage(int64_t width, int64_t height, const char* what);
// What a new pixel block holds: zeros, or whatever was there, for a caller that writes
// every byte before anyone reads one.
enum class TPixelFill { Zeroed, Overwritten };
// Block of height * bytesPerRow bytes, 64-byte aligned, zero-filled unless the caller
// passes TPixelFill::Overwritten. Large blocks are fresh system pages or a recently
// freed large block of about the same size, so a picture replaced by one of its own
// size does not fault in every page again. Raises EOutOfResources on refusal.
// Only FreePixelBuffer may release it.
uint8_t* AllocPixelBuffer(int64_t width, int64_t height, int64_t bytesPerRow, const char* what,
                          TPixelFill fill = TPixelFill::Zeroed);
void FreePixelBuffer(uint8_t* buffer);
// Block of at least bytes bytes for a buffer that grows by appending (a memory stream's
// storage), by the same roads as a pixel block but neither cleared nor fetched ahead: a
// large one gets large pages and is kept for the next buffer of its size when freed.
// Raises std::bad_alloc on refusal; only FreePixelBuffer may release it.
uint8_t* AllocGrowingBlock(size_t bytes);
// Gives every kept freed block back to the system.
void ReleaseCachedPixelBuffers();
// Gives back the kept blocks older than CachedPixelBufferLifetimeMs; true while some
// younger ones are still kept (the idle loop then asks again once they are due).
bool ReleaseStaleCachedPixelBuffers();
int64_t CachedPixelBufferLifetimeMs();

} // namespace kv
