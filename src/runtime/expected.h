#pragma once
// A small result type: a value, or the error that says why there is none. Every step of the setup returns one;
// nothing is thrown across steps. It follows the shape of C++23's std::expected so it can be swapped for it, but
// also builds with compilers and standard libraries that lack it (the clang used for fuzzing).

#include <type_traits>
#include <utility>
#include <variant>

namespace qmt {

template <class E>
class Unexpected {
 public:
  explicit Unexpected(E error) : error_(std::move(error)) {}
  E& error() & { return error_; }
  E&& error() && { return std::move(error_); }

 private:
  E error_;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
  return Unexpected<std::decay_t<E>>(std::forward<E>(error));
}

template <class T, class E>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit like std::expected
  template <class G>
  Expected(Unexpected<G> failure) : state_(std::in_place_index<1>, std::move(failure).error()) {}  // NOLINT

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  // Precondition for all four accessors: the matching alternative is held (checked by std::get).
  T& value() & { return *std::get_if<0>(&state_); }
  const T& value() const& { return *std::get_if<0>(&state_); }
  T&& value() && { return std::move(*std::get_if<0>(&state_)); }
  E& error() & { return *std::get_if<1>(&state_); }
  const E& error() const& { return *std::get_if<1>(&state_); }
  E&& error() && { return std::move(*std::get_if<1>(&state_)); }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::variant<T, E> state_;
};

template <class E>
class [[nodiscard]] Expected<void, E> {
 public:
  Expected() = default;
  template <class G>
  Expected(Unexpected<G> failure) : error_(std::move(failure).error()), failed_(true) {}  // NOLINT

  bool has_value() const { return !failed_; }
  explicit operator bool() const { return has_value(); }
  E& error() & { return error_; }
  const E& error() const& { return error_; }
  E&& error() && { return std::move(error_); }

 private:
  E error_{};
  bool failed_ = false;
};

}  // namespace qmt
