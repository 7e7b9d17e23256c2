#pragma once
// Run-time errors and their descriptions.
//
// A procedure that fails raises a RunTimeError carrying the description text the
// operator reads in the log. Procedures with a handler catch it at their boundary and
// write "description(Tag)" (see logging/error_handler.h); small routines let it pass.

#include <exception>
#include <string>

namespace ostrel {

// The program's own descriptions, Japanese like the rest of its text.
namespace desc {
inline constexpr const char* kOverflow = "オーバーフローしました。";
inline constexpr const char* kDivisionByZero = "0 で除算しました。";
inline constexpr const char* kInvalidPropertyValue = "プロパティの値が無効です。";
inline constexpr const char* kTypeMismatch = "型が一致しません。";
inline constexpr const char* kInvalidArgument = "プロシージャの呼び出し、または引数が不正です。";
inline constexpr const char* kOutOfMemory = "メモリが不足しています。";
inline constexpr const char* kSubscriptOutOfRange = "インデックスが有効範囲にありません。";
inline constexpr const char* kFileNotFound = "ファイルが見つかりません。";
inline constexpr const char* kPathNotFound = "パスが見つかりません。";
inline constexpr const char* kPathAccess = "パス名が無効です。";
inline constexpr const char* kPermissionDenied = "書き込みできません。";
inline constexpr const char* kFileExists = "既に同名のファイルが存在しています。";
inline constexpr const char* kDiskFull = "ディスクの空き容量が不足しています。";
inline constexpr const char* kDeviceIo = "デバイス I/O エラーです。";
inline constexpr const char* kFileAlreadyOpen = "ファイルは既に開かれています。";
inline constexpr const char* kAddressInUse = "アドレスは既に使用されています。";
inline constexpr const char* kAddressNotAvailable = "要求されたアドレスを割り当てられません。";
inline constexpr const char* kSocketAccessDenied = "ソケットへのアクセスが拒否されました。";
inline constexpr const char* kHostNotFound = "ホストが見つかりません。";
inline constexpr const char* kDatagramTooLarge = "データグラムが大きすぎます。";
inline constexpr const char* kSendFailed = "データを送信できませんでした。";
inline constexpr const char* kSocketError = "ソケット エラーが発生しました。";
}  // namespace desc

class RunTimeError : public std::exception {
 public:
  explicit RunTimeError(std::string description) : description_(std::move(description)) {}
  const char* what() const noexcept override { return description_.c_str(); }
  const std::string& Description() const noexcept { return description_; }

 private:
  std::string description_;
};

// The description of a file-system failure, from the errno value that caused it.
std::string FileErrorDescription(int error_number);

// Raises RunTimeError with FileErrorDescription(error_number).
[[noreturn]] void ThrowFileError(int error_number);

// The description a handler logs for any exception: the RunTimeError's own text,
// the out-of-memory text for std::bad_alloc, and the file-system text for
// std::filesystem::filesystem_error / std::system_error.
std::string DescriptionOf(const std::exception& error);

}  // namespace ostrel
