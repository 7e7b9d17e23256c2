#pragma once
// What computed fields say about a value they cannot use: one table of texts, each naming
// its key first ("order: …"); a reader of test files puts the key's path in front. "{}"
// stands for a value filled in by FillMessage, in order.

#include <initializer_list>
#include <string>
#include <string_view>

namespace ostrel {

namespace field_msg {
// Texts a reader uses when a key's text names nothing known.
inline constexpr const char* kBadKind =
    "kind: \"crc\"、\"sum8\"、\"sum16\"、\"xor8\"、\"lrc8\"、\"inet16\"、\"counter\"、\"time\" "
    "のいずれかを指定してください。";
inline constexpr const char* kBadOrder = "order: \"big\" または \"little\" を指定してください。";
inline constexpr const char* kBadAtText = "at: 整数または \"end\" を指定してください。";

// The field's own keys.
inline constexpr const char* kNoModel =
    "model: crc には CRC モデルの名前かパラメータを指定してください。";
inline constexpr const char* kUnknownModel = "model: \"{}\" という CRC モデルはありません。";
inline constexpr const char* kModelAndParams =
    "model: 名前とパラメータのどちらか一方だけを指定してください。";
inline constexpr const char* kOnlyForCrc = "model: crc にだけ指定できます。";
inline constexpr const char* kCrcWidth = "model.width: 1～64 の範囲で指定してください。";
inline constexpr const char* kCrcPoly =
    "model.poly: 0 でない、{} ビットに収まる値を指定してください。";
inline constexpr const char* kCrcInit = "model.init: {} ビットに収まる値を指定してください。";
inline constexpr const char* kCrcXorout = "model.xorout: {} ビットに収まる値を指定してください。";
inline constexpr const char* kAtRange = "at: -2048～2047 または \"end\" を指定してください。";
inline constexpr const char* kEndInAnswer =
    "at: 応答で確かめるフィールドに \"end\" は使えません。末尾から数える位置は負の数で"
    "指定してください（例: -2）。";
inline constexpr const char* kRangeLimits = "{}: -2048～2047 の範囲で指定してください。";
inline constexpr const char* kRangeNotForKind = "{}: counter と time には指定できません。";
inline constexpr const char* kNoWidth = "width: {} には width を指定してください。";
inline constexpr const char* kCounterWidth = "width: counter の幅は 1、2、4 のいずれかです。";
inline constexpr const char* kTimeWidth =
    "width: time の幅は 4（1970 年からの秒）か 8（1970 年からのミリ秒）です。";
inline constexpr const char* kWidthNotForKind = "width: counter と time にだけ指定できます。";
inline constexpr const char* kCounterOnly = "{}: counter にだけ指定できます。";
inline constexpr const char* kStartRange = "start: 0～{} の範囲で指定してください。";
inline constexpr const char* kStepRange = "step: -{}～{} の範囲で指定してください。";
inline constexpr const char* kNotInAnswer =
    "kind: \"{}\" は送るデータにだけ使えます。応答では確かめられません。";

// Where a field falls for a payload of a given length.
inline constexpr const char* kOutside =
    "at: {} バイト目からの {} バイトが、{} バイトのデータに収まりません。";
inline constexpr const char* kCoverOutside =
    "from, to: 対象の範囲（{}～{}）が、{} バイトのデータに収まりません。";
inline constexpr const char* kCoverEmpty = "from, to: 対象のバイトがありません（{}～{}）。";
inline constexpr const char* kTooLong =
    "at: フィールドを加えると {} バイトになり、2048 バイトを超えます。";
}  // namespace field_msg

// A key-first `message` ("order: …", "from, to: …") with its keys put under `path` and
// quoted: "\"fields[0].order\": …", "\"fields[0].from\"、\"fields[0].to\": …".
std::string FieldMessageAt(std::string_view path, std::string_view message);

// `text` with each "{}" replaced by the next of `values`.
std::string FillMessage(std::string_view text, std::initializer_list<std::string_view> values);

}  // namespace ostrel
