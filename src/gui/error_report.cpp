#include "error_report.h"

#include "base/exceptions.h"
#include "base/text.h"
#include "user_prompts.h"

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
