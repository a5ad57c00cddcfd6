#include "build/jobs.h"

#include "base/exceptions.h"
#include "build/incremental.h"
#include "build/outputs.h"
#include "build/run.h"
#include "html/web_text.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "ssi/document_output.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace {
// Converts or copies one file. With keep_going a failure is logged with its location (the
// directive that met it, or the file itself) and the caller goes on; the previous output, if
// any, stays as it was. Returns whether the file was done.
template <class Work>
bool attempt(bool keep_going, CompileLogBase& log, const std::string& relative_path, const std::string& source_path,
             Work work) {
    if (!keep_going) {
        work();
        return true;
    }
    try {
        work();
        return true;
    } catch (const located_error& e) {
        log.diagnostic(severity_t::error, e.what(), e.where());
    } catch (const std::runtime_error& e) {
        log.diagnostic(severity_t::error, e.what(), {{relative_path, 0, 0, source_path}, {}});
    }
    return false;
}

void convert_job(const run_settings_t& settings, run_state_t& state, CompileLogBase& log, const file_job_t& job,
                 page_dependencies_t* dependencies) {
    SSIParser::State parser_state;
    parser_state.last_modified = local_time(job.status.modified);
    parser_state.cache = &state.cache;
    parser_state.site_folder = settings.source;
    parser_state.site_prefix = settings.prefix;
    parser_state.dependencies = dependencies;
    convert_file(job.source_path, job.output_path, settings.preferences, parser_state, log, settings.link_rewriter(),
                 job.relative_path, job.status.permissions, job.fresh);
    if (settings.preferences.redirects && job.output_name != job.name && !settings.preferences.check)
        write_text_file(job.destination_path, redirect_page(job.output_name), job.status.permissions, job.fresh);
}

void copy_job(const run_settings_t& settings, CompileLogBase& log, const file_job_t& job) {
    if (settings.preferences.check) return;
    // Pages and style sheets that link to renamed pages are copied with the links changed.
    if (settings.rewriter && job.kind) {
        File file(job.source_path, File::access_t::read);
        const file_status_t read_status = stat_file(file);
        const std::string text = read_bytes(file, read_status.size);
        const std::optional<std::string> changed = rewritten(*settings.rewriter, text, *job.kind, job.relative_path, log);
        if (changed)
            write_text_file(job.destination_path, *changed, read_status.permissions, job.fresh);
        else
            write_copy(job.destination_path, text, read_status);
        return;
    }
    copy_file(job.source_path, job.destination_path);
}

// What the record keeps of a file just done. Its source's status is the one the walk read
// before the work: a source changed while it was read no longer matches it next time.
manifest_entry_t record_of(const Incremental& incremental, const file_job_t& job,
                           const page_dependencies_t& dependencies, bool reported) {
    manifest_entry_t entry;
    entry.kind = job.convert ? manifest_entry_t::kind_t::converted : manifest_entry_t::kind_t::copied;
    entry.source = stamp_of(job.status);
    entry.rebuild = dependencies.uses_time || reported;
    for (const std::string& output : job.outputs) {
        const std::optional<file_stamp_t> stamp = incremental.output_stamp(output);
        entry.rebuild = entry.rebuild || !stamp;
        entry.outputs.push_back({output, stamp.value_or(file_stamp_t{})});
    }
    return entry;
}
}  // namespace

void do_file(const run_settings_t& settings, run_state_t& state, OrderedLog::Step& step, const file_job_t& job) {
    // Work starts in walk order: one waiting when a failure has come comes after it.
    if (state.ordered.failing()) {
        state.ordered.close(step);
        return;
    }
    std::exception_ptr failure;
    bool done = false;
    page_dependencies_t dependencies;
    page_dependencies_t* recorded = state.incremental != nullptr ? &dependencies : nullptr;
    try {
        done = attempt(settings.preferences.keep_going, step, job.relative_path, job.source_path, [&] {
            if (job.convert)
                convert_job(settings, state, step, job, recorded);
            else
                copy_job(settings, step, job);
        });
    } catch (...) {
        failure = std::current_exception();
    }
    std::optional<manifest_entry_t> entry;
    std::vector<manifest_entry_t::file_t> read;
    if (done && state.incremental != nullptr) {
        entry = record_of(*state.incremental, job, dependencies, step.diagnostics() > 0);
        for (const auto& [path, status] : dependencies.files) read.push_back({path, stamp_of(status)});
    }
    const bool written = done && !settings.preferences.check && settings.preferences.check_links && job.kind;
    state.ordered.close(
        step,
        [&state, convert = job.convert, done, stopping = failure != nullptr, key = job.key,
         page = written ? job.page : std::string(), entry = std::move(entry), read = std::move(read)]() mutable {
            if (stopping) return;  // the run ends here, as if the file had never been started
            if (convert)
                ++(done ? state.summary.documents : state.summary.failed_documents);
            else
                ++(done ? state.summary.copies : state.summary.failed_copies);
            if (!page.empty()) state.written_pages.push_back(std::move(page));
            if (state.incremental == nullptr) return;
            if (entry)
                state.incremental->record(key, std::move(*entry), read);
            else
                state.incremental->record_failure(key);
            state.incremental->save_if_due();
        },
        failure);
    if (!failure && state.control != nullptr) ++state.control->files_done;
}

void convert_file(const std::string& source, const std::string& destination, const SSIDirectoryPreferences& preferences,
                  SSIParser::State& state, CompileLogBase& log, const LinkRewriter* rewriter, const std::string& page,
                  std::optional<unsigned> permissions, bool fresh) {
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
        write_text_file(destination, changed ? *changed : in_memory.text(), permissions, fresh);
        return;
    }
    OutputFile output(destination);
    {
        DocumentOutput buffered(&output.file());
        SSIParser parser(source, buffered, preferences, state, log);
        parser.process();
        buffered.flush();
    }
    output.set_permissions(*permissions);
    commit_output(output, fresh);
}
