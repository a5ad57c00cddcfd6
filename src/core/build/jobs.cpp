#include "build/jobs.h"

#include "base/exceptions.h"
#include "build/incremental.h"
#include "build/outputs.h"
#include "build/run.h"
#include "html/web_text.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "ssi/document_output.h"
#include "ssi/output_origins.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>
#include <utility>

namespace {
constexpr const char* unknown_failure = "failed with an unknown exception";

void convert_into(StagedOutputs& outputs, const std::string& source, const std::string& destination,
                  const SSIDirectoryPreferences& preferences, SSIParser::State& state, CompileLogBase& log,
                  const LinkRewriter* rewriter, const std::string& page, std::optional<unsigned> permissions,
                  bool fresh);

// Converts or copies one file. With keep_going a failure, whatever was thrown, is logged with
// its location (the directive that met it, or the file itself) and the caller goes on; the
// previous output, if any, stays as it was. Returns whether the file was done.
template <class Work>
bool attempt(bool keep_going, CompileLogBase& log, const std::string& relative_path, const std::string& source_path,
             Work work) {
    if (!keep_going) {
        work();
        return true;
    }
    const diagnostic_location_t file{{relative_path, 0, 0, source_path}, {}};
    try {
        work();
        return true;
    } catch (const located_error& e) {
        log.diagnostic(severity_t::error, e.what(), e.where());
    } catch (const std::exception& e) {
        log.diagnostic(severity_t::error, e.what(), file);
    } catch (...) {
        log.diagnostic(severity_t::error, unknown_failure, file);
    }
    return false;
}

void convert_job(const run_settings_t& settings, run_state_t& state, CompileLogBase& log, const file_job_t& job,
                 page_dependencies_t* dependencies, OutputOrigins* origins, StagedOutputs& outputs) {
    SSIParser::State parser_state;
    parser_state.last_modified = local_time(job.status.modified);
    parser_state.cache = &state.cache;
    parser_state.site_folder = settings.source;
    parser_state.site_prefix = settings.prefix;
    parser_state.dependencies = dependencies;
    parser_state.page_path = job.source_path;
    parser_state.page_status = job.status;
    parser_state.origins = origins;
    convert_into(outputs, job.source_path, job.output_path, job.preferences ? *job.preferences : settings.preferences,
                 parser_state, log,
                 settings.link_rewriter(), job.relative_path, job.status.permissions, job.fresh);
    if (settings.preferences.redirects && job.output_name != job.name && !settings.preferences.check)
        write_text_file(outputs, job.destination_path, redirect_page(job.output_name), job.status.permissions, job.fresh);
}

void copy_job(const run_settings_t& settings, CompileLogBase& log, const file_job_t& job, StagedOutputs& outputs) {
    if (settings.preferences.check) return;
    // Pages and style sheets that link to renamed pages are copied with the links changed.
    if (settings.rewriter && job.kind) {
        File file(job.source_path, File::access_t::read);
        const file_status_t read_status = stat_file(file);
        const std::string text = read_bytes(file, read_status.size);
        const std::optional<std::string> changed = rewritten(*settings.rewriter, text, *job.kind, job.relative_path, log);
        if (changed)
            write_text_file(outputs, job.destination_path, *changed, read_status.permissions, job.fresh);
        else
            write_copy(outputs.open(job.destination_path, true, read_status.permissions, job.fresh), text, read_status);
        return;
    }
    copy_file(job.source_path, outputs.open(job.destination_path, true, job.status.permissions, job.fresh));
}

// What the record keeps of a file just done. Its source's status is the one the walk read
// before the work: a source changed while it was read no longer matches it next time.
manifest_entry_t record_of(const run_settings_t& settings, const Incremental& incremental, const file_job_t& job,
                           const StagedOutputs& outputs, const page_dependencies_t& dependencies, bool reported) {
    manifest_entry_t entry;
    entry.kind = job.convert ? manifest_entry_t::kind_t::converted : manifest_entry_t::kind_t::copied;
    entry.source = stamp_of(job.status);
    entry.rebuild = dependencies.uses_time || reported;
    entry.walked = job.walked;
    for (const std::string& output : job.outputs) {
        // Read through the output's descriptor when it was written: no path is looked up again.
        const std::optional<file_status_t> placed = outputs.placed(settings.destination_root + "/" + output);
        const std::optional<file_stamp_t> stamp =
            placed ? std::optional(stamp_of(*placed)) : incremental.output_stamp(output);
        entry.rebuild = entry.rebuild || !stamp;
        entry.outputs.push_back({output, stamp.value_or(file_stamp_t{})});
    }
    return entry;
}

// What a worker did with one file, until its turn comes in walk order.
struct file_result_t {
    file_job_t job;
    StagedOutputs outputs;
    page_dependencies_t dependencies;
    OutputOrigins origins;  // of a page whose links are checked
    bool done = false;
    bool reported = false;  // it logged errors or warnings
};

// The file's turn in walk order: its outputs go in place, then it is counted and recorded.
// A failure to put an output in place is the file's own, as if met while writing it.
void finish_file(const run_settings_t& settings, run_state_t& state, file_result_t& result) {
    const file_job_t& job = result.job;
    if (result.done) {
        try {
            result.outputs.commit();
        } catch (const std::exception& e) {
            if (!settings.preferences.keep_going) throw;
            state.log.diagnostic(severity_t::error, e.what(), {{job.relative_path, 0, 0, job.source_path}, {}});
            result.done = false;
            result.reported = true;
        }
    }
    if (job.convert)
        ++(result.done ? state.summary.documents : state.summary.failed_documents);
    else
        ++(result.done ? state.summary.copies : state.summary.failed_copies);
    if (!result.done) state.summary.failed.push_back(job.relative_path);
    const bool written = result.done && !settings.preferences.check && settings.preferences.check_links && job.kind;
    if (written) {
        state.written_pages.push_back(job.page);
        if (!result.origins.empty()) state.page_origins.emplace(job.page, std::move(result.origins));
    }
    if (state.incremental == nullptr) return;
    if (result.done) {
        std::vector<manifest_entry_t::file_t> read;
        for (const auto& [path, status] : result.dependencies.files) read.push_back({path, stamp_of(status)});
        state.incremental->record(
            job.key, record_of(settings, *state.incremental, job, result.outputs, result.dependencies, result.reported),
            read);
    } else {
        state.incremental->record_failure(job.key, job.walked);
    }
    state.incremental->save_if_due();
}

// What a job threw, as the run's failure: something other than an exception of the standard
// library is named as an unknown failure of the file.
std::exception_ptr failure_of(std::exception_ptr thrown, const file_job_t& job) {
    try {
        std::rethrow_exception(thrown);
    } catch (const std::exception&) {
        return thrown;
    } catch (...) {
        return std::make_exception_ptr(std::runtime_error(job.source_path + ": " + unknown_failure));
    }
}
}  // namespace

void do_file(const run_settings_t& settings, run_state_t& state, OrderedLog::Step& step, file_job_t&& given) {
    // Work after a failure in walk order is not done, and work waiting when the run is
    // stopped is dropped there.
    if (state.ordered.after_failure(step)) {
        state.ordered.close(step);
        return;
    }
    if (state.control != nullptr && state.control->cancel.load()) {
        state.ordered.close(step, {}, std::make_exception_ptr(conversion_cancelled()));
        return;
    }
    std::exception_ptr failure;
    auto result = std::make_shared<file_result_t>();
    result->job = std::move(given);
    const file_job_t& job = result->job;
    try {
        // The progress line says the work has started: a stop from now on lets it finish.
        step.message((job.convert ? "Converting " : "Copying ") + job.relative_path + "...");
        page_dependencies_t* recorded = state.incremental != nullptr ? &result->dependencies : nullptr;
        // Broken links are named where they were written, which takes a note of where the
        // output's text came from.
        const bool checked = settings.preferences.check_links && !settings.preferences.check && job.kind;
        OutputOrigins* origins = checked ? &result->origins : nullptr;
        result->done = attempt(settings.preferences.keep_going, step, job.relative_path, job.source_path, [&] {
            if (job.convert)
                convert_job(settings, state, step, job, recorded, origins, result->outputs);
            else
                copy_job(settings, step, job, result->outputs);
            result->outputs.close();
        });
        result->reported = step.diagnostics() > 0;
    } catch (...) {
        failure = failure_of(std::current_exception(), job);
    }
    if (!result->done) result->outputs = StagedOutputs();  // the previous outputs stay
    if (failure) {
        // The run ends here, as if the file had never been started.
        state.ordered.close(step, {}, failure);
        return;
    }
    state.ordered.close(step, [&settings, &state, result] { finish_file(settings, state, *result); });
    if (state.control != nullptr) ++state.control->files_done;
}

void convert_file(const std::string& source, const std::string& destination, const SSIDirectoryPreferences& preferences,
                  SSIParser::State& state, CompileLogBase& log, const LinkRewriter* rewriter, const std::string& page,
                  std::optional<unsigned> permissions, bool fresh) {
    StagedOutputs outputs;
    convert_into(outputs, source, destination, preferences, state, log, rewriter, page, permissions, fresh);
    outputs.commit();
}

namespace {
// Converts one document into outputs, to be committed by the caller.
void convert_into(StagedOutputs& outputs, const std::string& source, const std::string& destination,
                  const SSIDirectoryPreferences& preferences, SSIParser::State& state, CompileLogBase& log,
                  const LinkRewriter* rewriter, const std::string& page, std::optional<unsigned> permissions,
                  bool fresh) {
    if (preferences.check) {
        DocumentOutput nothing(nullptr, true);
        SSIParser(source, nothing, preferences, state, log).process();
        return;
    }
    // A page gets its source's permission bits, as a copy does: a private page stays private.
    if (!permissions) permissions = stat_path(source).permissions;
    if (rewriter != nullptr) {
        // The page is rewritten whole, so it is converted into memory first.
        DocumentOutput in_memory;
        SSIParser(source, in_memory, preferences, state, log).process();
        const std::optional<std::string> changed = rewritten(*rewriter, in_memory.text(), text_kind_t::html, page, log);
        if (changed && state.origins != nullptr) {
            const std::string& before = in_memory.text();
            const auto first = std::mismatch(before.begin(), before.end(), changed->begin(), changed->end()).first;
            state.origins->changed_from(static_cast<std::uint64_t>(first - before.begin()));
        }
        write_text_file(outputs, destination, changed ? *changed : in_memory.text(), permissions, fresh);
        return;
    }
    OutputFile& output = outputs.open(destination, fresh, permissions, fresh);
    {
        DocumentOutput buffered(&output.file());
        SSIParser parser(source, buffered, preferences, state, log);
        parser.process();
        buffered.flush();
    }
    output.set_permissions(*permissions);
}
}  // namespace
