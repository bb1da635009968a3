#include "device/ShownLease.h"

#include "device/Client.h"

namespace fieldmon {

ShownLease::ShownLease(std::shared_ptr<Client> record) : record_(std::move(record))
{
    if (record_)
        record_->shownLeases_.fetch_add(1);
}

ShownLease::~ShownLease()
{
    reset();
}

ShownLease& ShownLease::operator=(ShownLease&& other) noexcept
{
    if (this != &other) {
        reset();
        record_ = std::move(other.record_);
    }
    return *this;
}

void ShownLease::reset()
{
    // The count goes down first: the record may die with the reference.
    if (record_)
        record_->shownLeases_.fetch_sub(1);
    record_.reset();
}

} // namespace fieldmon
