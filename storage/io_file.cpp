// IoFile passes every KVIABIO result through unchanged: the callers decide
// what a failure means (a Seek elsewhere than asked, a nonzero result).
//
// States: closed (handle kClosedHandle, access GENERIC_READ) -> open after
// a successful Open or Create -> closed after Close, whatever the close
// answered. A failed Open or Create leaves what KVIABIO stored in the
// handle; the callers then Close or destroy.
#include "storage/io_file.h"

#include <cstring>
#include <new>

#include "kviabio.h"

static_assert(kvi::kIoNotFound == KVIO_NOT_FOUND, "IoFile passes KVIABIO's not-found value");
static_assert(kvi::kIoExists == KVIO_PLACE_EXISTS, "IoFile passes KVIABIO's exists value");

namespace kvi {
namespace {

// What Create and Open answer when the path could not be copied.
constexpr uint32_t kNoName = 1;

}  // namespace

IoFile::IoFile(const char* path, uint32_t access)
    : name_(nullptr), access_(access), handle_(kClosedHandle), transferred_(0),
      attributes_(kFileAttributeNormal) {
    if (path == nullptr) return;
    const size_t size = std::strlen(path) + 1;
    name_ = new (std::nothrow) char[size];
    if (name_ != nullptr) std::memcpy(name_, path, size);
}

IoFile::~IoFile() {
    if (handle_ != kClosedHandle) Close();
    delete[] name_;
}

uint32_t IoFile::Create() {
    if (name_ == nullptr) return kNoName;
    return KvioCreate(name_, attributes_, &handle_);
}

uint32_t IoFile::Open(uint32_t access) {
    if (access != access_) access_ = access;
    if (name_ == nullptr) return kNoName;
    return KvioOpen(name_, access_, &handle_);
}

uint32_t IoFile::Close() {
    const uint32_t result = KvioClose(handle_);
    handle_ = kClosedHandle;
    access_ = kGenericRead;
    return result;
}

uint32_t IoFile::Seek(uint32_t position) { return KvioSetPosition(handle_, position, 0); }

uint32_t IoFile::Read(void* buffer, uint32_t length) {
    return KvioRead(handle_, buffer, length, &transferred_);
}

uint32_t IoFile::Write(const void* buffer, uint32_t length) {
    return KvioWrite(handle_, buffer, length, &transferred_);
}

uint32_t IoFile::ReplaceOver(const char* target) {
    if (name_ == nullptr) return kNoName;
    return KvioReplace(name_, target);
}

uint32_t IoFile::PlaceAt(const char* target) {
    if (name_ == nullptr) return kNoName;
    return KvioPlace(name_, target);
}

uint32_t IoFile::Remove() {
    if (name_ == nullptr) return kNoName;
    return KvioDelete(name_);
}

uint32_t IoFile::Size(uint32_t* size) { return KvioGetSize(handle_, size); }

uint32_t IoFile::Flush() { return KvioFlush(handle_); }

uint32_t IoFile::CreateTemporary(const char* target, bool privateFile) {
    if (target == nullptr) return kNoName;
    const size_t size = std::strlen(target) + KVIO_TEMP_NAME_EXTRA;
    char* temp = new (std::nothrow) char[size];
    if (temp == nullptr) return kNoName;
    const uint32_t result = KvioCreateTemporary(target, privateFile ? KVIO_CREATE_PRIVATE : 0, &handle_, temp,
                                                static_cast<uint32_t>(size));
    if (result != 0) {
        delete[] temp;
        return result;
    }
    delete[] name_;
    name_ = temp;
    access_ = kGenericWrite;
    return 0;
}

}  // namespace kvi
