#pragma once

#include <QCoroTask>
#include <exception>
#include <optional>
#include <type_traits>

namespace telmora::test {

// QCoro::waitFor, but a task that throws rethrows here instead of leaving the nested event
// loop running for ever (QCoro 0.8's waitFor never quits its loop on an exception).
template<typename T>
T awaitTask(QCoro::Task<T> task)
{
    using Result = std::conditional_t<std::is_void_v<T>, bool, T>;
    std::optional<Result> result;
    std::exception_ptr error;
    auto guarded = [](QCoro::Task<T> inner, std::optional<Result>& out, std::exception_ptr& failure) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await inner;
                out.emplace(true);
            } else {
                out.emplace(co_await inner);
            }
        } catch (...) {
            failure = std::current_exception();
        }
    };
    QCoro::waitFor(guarded(std::move(task), result, error));
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

} // namespace telmora::test
