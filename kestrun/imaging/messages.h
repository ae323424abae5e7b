// The fixed texts the image exports return, as code page 936 (GBK) bytes.
#pragma once

namespace kestrun::imaging::messages {

inline constexpr char kOk[] = "OK";
// 文件不存在! (half-width exclamation mark: image conversion)
inline constexpr char kFileMissing[] = "\xCE\xC4\xBC\xFE\xB2\xBB\xB4\xE6\xD4\xDA!";
// 文件不存在！ (full-width exclamation mark: barcode scanning)
inline constexpr char kFileMissingFullWidth[] = "\xCE\xC4\xBC\xFE\xB2\xBB\xB4\xE6\xD4\xDA\xA3\xA1";
// 转换失败!
inline constexpr char kConversionFailed[] = "\xD7\xAA\xBB\xBB\xCA\xA7\xB0\xDC!";
// 参数错误
inline constexpr char kBadArguments[] = "\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3";
// size参数错误 范围0-40
inline constexpr char kBadSize[] = "size\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3 \xB7\xB6\xCE\xA7"
                                   "0-40";
// 最多允许1108个字节！
inline constexpr char kTextTooLong[] = "\xD7\xEE\xB6\xE0\xD4\xCA\xD0\xED"
                                       "1108"
                                       "\xB8\xF6\xD7\xD6\xBD\xDA\xA3\xA1";
// 要保存的文件名不正确！
inline constexpr char kBadFileName[] =
    "\xD2\xAA\xB1\xA3\xB4\xE6\xB5\xC4\xCE\xC4\xBC\xFE\xC3\xFB\xB2\xBB\xD5\xFD\xC8\xB7\xA3\xA1";
// 不能识别的扩展名！
inline constexpr char kUnknownExtension[] =
    "\xB2\xBB\xC4\xDC\xCA\xB6\xB1\xF0\xB5\xC4\xC0\xA9\xD5\xB9\xC3\xFB\xA3\xA1";
// 不支持保存为 ... 扩展名的文件！
inline constexpr char kUnsupportedPrefix[] = "\xB2\xBB\xD6\xA7\xB3\xD6\xB1\xA3\xB4\xE6\xCE\xAA";
inline constexpr char kUnsupportedSuffix[] =
    "\xC0\xA9\xD5\xB9\xC3\xFB\xB5\xC4\xCE\xC4\xBC\xFE\xA3\xA1";
// 生成二维码文件失败！
inline constexpr char kEncodeFailed[] =
    "\xC9\xFA\xB3\xC9\xB6\xFE\xCE\xAC\xC2\xEB\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC\xA3\xA1";
// 内容太多
inline constexpr char kTooMuchContent[] = "\xC4\xDA\xC8\xDD\xCC\xAB\xB6\xE0";
// 可能是没有写入二维码文件的权限
inline constexpr char kCannotWrite[] = "\xBF\xC9\xC4\xDC\xCA\xC7\xC3\xBB\xD3\xD0\xD0\xB4\xC8\xEB"
                                       "\xB6\xFE\xCE\xAC\xC2\xEB\xCE\xC4\xBC\xFE\xB5\xC4\xC8\xA8"
                                       "\xCF\xDE";
// 将BMP文件转换为JPG格式化时发生错误：
inline constexpr char kJpegStepFailed[] = "\xBD\xAB"
                                          "BMP"
                                          "\xCE\xC4\xBC\xFE\xD7\xAA\xBB\xBB\xCE\xAA"
                                          "JPG"
                                          "\xB8\xF1\xCA\xBD\xBB\xAF\xCA\xB1\xB7\xA2\xC9\xFA\xB4\xED"
                                          "\xCE\xF3\xA3\xBA";

} // namespace kestrun::imaging::messages
