// One file's path, access mode and handle over KVIABIO. Every byte the
// library reads or writes passes through here.
#ifndef KVI_STORAGE_IO_FILE_H
#define KVI_STORAGE_IO_FILE_H

#include <cstdint>

namespace kvi {

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kClosedHandle = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeNormal = 0x80u;
constexpr uint32_t kIoNotFound = 2;  // KVIO_NOT_FOUND
constexpr uint32_t kIoExists = 3;    // KVIO_PLACE_EXISTS

class IoFile {
public:
    // Copies the path. A failed copy leaves Name() null; every operation
    // then fails.
    IoFile(const char* path, uint32_t access);
    ~IoFile();  // closes an open file
    IoFile(const IoFile&) = delete;
    IoFile& operator=(const IoFile&) = delete;

    uint32_t Create();                // 0 = success
    // Opens the file, which must exist: 0 = success, kIoNotFound when it
    // does not exist, another nonzero value for any other failure.
    uint32_t Open(uint32_t access);
    // Makes this object a new temporary file beside target, open for
    // writing (its name becomes Name()); the mode comes from the book it
    // will replace, or for a new book from privateFile (no access for
    // others). 0 = success.
    uint32_t CreateTemporary(const char* target, bool privateFile);
    uint32_t Close();                 // 0 = success; always leaves the file closed
    uint32_t Read(void* buffer, uint32_t length);         // 0 = success
    uint32_t Write(const void* buffer, uint32_t length);  // 0 = success
    uint32_t Seek(uint32_t position);  // the position reached
    // Flushes this (closed) file and atomically puts it in place of target.
    uint32_t ReplaceOver(const char* target);  // 0 = success
    // As ReplaceOver, but only where no book is yet (an empty file counts
    // as none): 0, kIoExists when there is one, another value on failure.
    uint32_t PlaceAt(const char* target);
    // Deletes the (closed) file of this name; 0 = success.
    uint32_t Remove();
    // Size of the open file into *size; 0 = success.
    uint32_t Size(uint32_t* size);
    // What was written through the open file reaches the disk; 0 = success.
    uint32_t Flush();

    const char* Name() const { return name_; }
    uint32_t Access() const { return access_; }
    uint32_t Handle() const { return handle_; }
    bool IsOpen() const { return handle_ != kClosedHandle; }

private:
    char* name_;
    uint32_t access_;
    uint32_t handle_;
    uint32_t transferred_;
    uint32_t attributes_;
};

}  // namespace kvi

#endif
