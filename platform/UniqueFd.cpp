#include "platform/UniqueFd.h"

#include <unistd.h>

#include <utility>

namespace purgala {

TUniqueFd& TUniqueFd::operator=(TUniqueFd&& other) noexcept {
    if (this != &other) {
        TUniqueFd old(std::exchange(fd_, other.Release()));
    }
    return *this;
}

TUniqueFd::~TUniqueFd() {
    if (fd_ >= 0) {
        // A descriptor written through is closed, and its close checked, by its writer
        // (Release); what is left here was only read, so a failing close loses nothing.
        ::close(fd_);
    }
}

}  // namespace purgala
