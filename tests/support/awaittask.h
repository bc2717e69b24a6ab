#pragma once

#include <QCoroTask>
#include <exception>
#include <optional>

namespace telmora::test {

// QCoro::waitFor, but a task that throws rethrows here instead of leaving the nested event
// loop running for ever (QCoro 0.8's waitFor never quits its loop on an exception).
template<typename T>
T awaitTask(QCoro::Task<T> task)
{
    std::exception_ptr error;
    auto guarded = [](QCoro::Task<T> inner, std::exception_ptr& failure) -> QCoro::Task<std::optional<T>> {
        try {
            co_return co_await inner;
        } catch (...) {
            failure = std::current_exception();
        }
        co_return std::nullopt;
    };
    std::optional<T> result = QCoro::waitFor(guarded(std::move(task), error));
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

inline void awaitTask(QCoro::Task<> task)
{
    std::exception_ptr error;
    auto guarded = [](QCoro::Task<> inner, std::exception_ptr& failure) -> QCoro::Task<> {
        try {
            co_await inner;
        } catch (...) {
            failure = std::current_exception();
        }
    };
    QCoro::waitFor(guarded(std::move(task), error));
    if (error)
        std::rethrow_exception(error);
}

} // namespace telmora::test
