#include "error_report.h"

#include "base/exceptions.h"
#include "base/text.h"
#include "user_prompts.h"

#include <QDir>

#include <stdexcept>

std::string top_level_report(std::exception_ptr error) {
    std::string text;
    try {
        std::rethrow_exception(error);
    } catch (const std::runtime_error& e) {
        text = e.what();
    } catch (const std::logic_error& e) {
        text = std::string("Error in the logic of the program, please report bug:\n") + e.what();
    } catch (const std::bad_exception&) {
        text = "Bad exception, please report bug.";
    } catch (const std::exception&) {
        text = "Unknown exception, please report bug.";
    }
    const throw_location_t& at = last_throw_location();
    return text + "\n\nSource file - " + at.file + ", line - " + to_decimal(at.line);
}

void report_exception(std::exception_ptr error) {
    user_prompts::show_error(QString::fromStdString(top_level_report(error)));
}

std::string tidy_failure(const std::string& text) {
    const std::size_t end = text.find(": ");
    if (end == std::string::npos || end == 0 || text.find('\n') < end) return text;
    const QString path = QString::fromStdString(text.substr(0, end));
    const bool absolute = path.startsWith(QLatin1Char('/')) || (path.size() > 2 && path[1] == QLatin1Char(':'));
    if (!absolute) return text;
    return QDir::cleanPath(path).toStdString() + text.substr(end);
}
