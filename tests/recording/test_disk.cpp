#include "tests/recording/test_disk.h"

#include <memory>

class test_disk::file : public leveldb::WritableFile {
public:
    file(test_disk& disk, std::string name, leveldb::WritableFile* target)
        : disk_(disk), name_(std::move(name)), target_(target),
          log_(name_.size() > 4 && name_.compare(name_.size() - 4, 4, ".log") == 0) {}
    leveldb::Status Append(const leveldb::Slice& data) override {
        if (!disk_.full_from_ || data.size() < *disk_.full_from_)
            return target_->Append(data);
        target_->Append(leveldb::Slice(data.data(), data.size() / 2));
        target_->Flush();
        return leveldb::Status::IOError(name_, "No space left on device");
    }
    leveldb::Status Close() override { return target_->Close(); }
    // The engine flushes its log once per record written.
    leveldb::Status Flush() override {
        disk_.log_writes_ += log_;
        return target_->Flush();
    }
    leveldb::Status Sync() override {
        disk_.log_syncs_ += log_;
        return target_->Sync();
    }

private:
    test_disk& disk_;
    std::string name_;
    std::unique_ptr<leveldb::WritableFile> target_;
    bool log_;
};

leveldb::Status test_disk::NewWritableFile(const std::string& name,
                                           leveldb::WritableFile** result) {
    leveldb::WritableFile* target = nullptr;
    const leveldb::Status status = EnvWrapper::NewWritableFile(name, &target);
    *result = status.ok() ? new file(*this, name, target) : nullptr;
    return status;
}
