#include "formats/convert_error.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace lumatra {

ConvertError::ConvertError(Case errorCase, std::string payload)
    : m_case(errorCase), m_payload(std::move(payload)) {
    switch (m_case) {
    case Case::unsupported:
        m_description = "Так конвертировать нельзя: " + m_payload;
        break;
    case Case::failed:
        m_description = m_payload;
        break;
    case Case::missingFFmpeg:
        m_description = "Для аудио и видео нужен ffmpeg: sudo apt install ffmpeg";
        break;
    case Case::noAudio:
        m_description = "В файле нет звуковой дорожки";
        break;
    }
}

ConvertError ConvertError::unsupported(std::string route) {
    return {Case::unsupported, std::move(route)};
}
ConvertError ConvertError::failed(std::string message) {
    return {Case::failed, std::move(message)};
}
ConvertError ConvertError::missingFFmpeg() {
    return {Case::missingFFmpeg, {}};
}
ConvertError ConvertError::noAudio() {
    return {Case::noAudio, {}};
}

const char* CancelledError::what() const noexcept {
    return "Отменено";
}

std::string systemReason(int errorNumber) {
    switch (errorNumber) {
    case ENOENT:
        return "нет такого файла или папки";
    case EACCES:
    case EPERM:
        return "нет доступа";
    case EROFS:
        return "диск только для чтения";
    case ENOSPC:
        return "на диске нет места";
    case EDQUOT:
        return "превышена квота диска";
    case EEXIST:
        return "файл уже существует";
    case ENOTDIR:
        return "часть пути — не папка";
    case EISDIR:
        return "это папка, а не файл";
    case ENAMETOOLONG:
        return "слишком длинное имя";
    case ENOEXEC:
        return "файл не является программой";
    case EIO:
        return "ошибка ввода-вывода";
    case EMFILE:
    case ENFILE:
        return "открыто слишком много файлов";
    case ENOMEM:
        return "не хватает памяти";
    case EXDEV:
        return "перемещение между дисками невозможно";
    case ELOOP:
        return "слишком много символических ссылок";
    case EAGAIN:
        return "файл не читается без ожидания";
    case EINVAL:
        return "недопустимая операция";
    case EFBIG:
    case EOVERFLOW:
        return "файл слишком большой";
    case EBUSY:
    case ETXTBSY:
        return "файл занят";
    case ENXIO:
    case ENODEV:
        return "устройство недоступно";
    case ETIMEDOUT:
        return "время ожидания истекло";
    case ESTALE:
        return "файл на сетевом диске больше недоступен";
    case EOPNOTSUPP:
        return "файловая система этого не позволяет";
    default:
        // Never the system's English text.
        return "системная ошибка " + std::to_string(errorNumber);
    }
}

SystemError::SystemError(std::string action, const std::filesystem::path& path, int errorNumber)
    : m_errno(errorNumber),
      m_message(std::move(action) + " «" + path.string() + "»: " + systemReason(errorNumber)) {
    // Which file the full disk refused says nothing to the user; it is often a
    // temporary one.
    if (errorNumber == ENOSPC || errorNumber == EDQUOT) m_message = diskFullText;
}

std::string describe(const std::exception& error) {
    if (const auto* convert = dynamic_cast<const ConvertError*>(&error))
        return convert->errorDescription();
    if (const auto* fs = dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
        const int code = fs->code().value();
        if (code == ENOSPC || code == EDQUOT) return std::string(diskFullText);
        std::string text = "Ошибка файловой системы";
        if (!fs->path1().empty()) text += " «" + fs->path1().string() + "»";
        return text + ": " + systemReason(fs->code().value());
    }
    if (dynamic_cast<const std::bad_alloc*>(&error)) return "Не хватает памяти";
    return error.what();
}

} // namespace lumatra
