// What an operation on the file system gives back: its value, or the one
// reason it has none.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <utility>

namespace ostrel {

enum class Failure : std::uint8_t {
  // No such entry, or not of the kind asked for.
  none_found,
  // The process has no descriptor left; the same call may succeed once
  // others are closed, unlike any other failure.
  out_of_handles,
  // Anything else: no permission, an I/O error, a name too long.
  other,
};

template <typename T>
class Result {
 public:
  // Implicit, so that a function returns its value or its failure alike.
  Result(T value) : value_(std::move(value)) {}
  template <typename U>
    requires std::convertible_to<U, T> && (!std::same_as<std::decay_t<U>, T>)
  Result(U&& value) : value_(T(std::forward<U>(value))) {}
  Result(Failure failure) : failure_(failure) {}

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // Why there is no value; only meaningful when there is none.
  Failure failure() const { return failure_; }

  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
  Failure failure_ = Failure::other;
};

}  // namespace ostrel
