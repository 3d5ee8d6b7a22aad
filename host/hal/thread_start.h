// Starting a std::thread where no exception may escape.
#pragma once

#include <system_error>
#include <thread>
#include <utility>

namespace orvalinquist {
namespace host {

// std::thread reports a failed start only by throwing: here it is 0, or the errno that
// stopped it, with `thread` left unjoinable.
template <typename Function, typename... Args>
int startThread(std::thread* thread, Function&& function, Args&&... args) {
    try {
        *thread = std::thread(std::forward<Function>(function), std::forward<Args>(args)...);
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    return 0;
}

}  // namespace host
}  // namespace orvalinquist
