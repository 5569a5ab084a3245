#include "engine/site_compare.h"

#include "connect/session_factory.h"
#include "connect/site_password.h"
#include "engine/command_lines.h"
#include "platform/file_utils.h"
#include "session/remote_session.h"

#include <algorithm>
#include <map>

namespace {

std::string startFolder(const WebProject& project, const FtpSite& site)
{
    std::string start = serverPathAt(site.startdir, project.remote);
    if (start.empty())
        return "/";
    return start.front() == '/' ? start : "/" + start;
}

std::string connectFailure(const FtpSite& site, const ClientResult& result)
{
    std::string text = "cannot log in to " + site.url;
    if (result.systemError != 0)
        return text + ": " + errorText(result.systemError);
    if (result.code >= 100)
        return text + ": the server answered " + std::to_string(result.code);
    return text;
}

// Files that every site confirmed become recorded; every other change keeps what was
// recorded, so the next run still sends (or deletes) it.
void recordRepair(WebProject& project, const std::vector<SiteComparison>& sites)
{
    std::map<std::string, size_t> confirmations;
    for (const SiteComparison& site : sites)
        for (const WebProject::StepOutcome& outcome : site.outcomes)
            if (outcome.kind == WebProject::StepOutcome::Kind::Uploaded)
                ++confirmations[outcome.path];
    for (FileItem& item : project.items) {
        if (!item.changed)
            continue;
        const auto confirmed = confirmations.find(item.path);
        if (!item.deleted && confirmed != confirmations.end() && confirmed->second == sites.size()
            && stillAsScanned(item))
            item.changed = false;
        else
            item.failed = true;
    }
    (void)project.WriteFileList();
}

} // namespace

std::vector<SiteComparison> compareSites(WebProject& project, CompareMode mode)
{
    std::vector<SiteComparison> compared;
    if (mode == CompareMode::Repair) {
        // Only to know the record and each file as it is now; what the scan would say of the
        // record is a run's business.
        NullEventSink silent;
        FtpEventSink* sink = project.eventSink;
        project.eventSink = &silent;
        project.Scan();
        project.eventSink = sink;
    }
    const MachineOptions defaults;
    SessionFactory factory(project.machineOptions != nullptr ? *project.machineOptions : defaults,
        std::chrono::milliseconds(project.clientBudgetMilliseconds));
    int number = 0;
    for (const FtpSite& site : project.sites) {
        SiteComparison& result = compared.emplace_back();
        result.site = ++number;
        project.currentSite = number;
        const std::function<std::unique_ptr<RemoteSession>(const std::string&)> makeSession
            = [&project, &factory](const std::string& url) {
                  return project.sessionMaker ? project.sessionMaker(url) : factory.make(url);
              };
        const SitePassword password = project.passwordFor(site);
        if (!password.problem.empty()) {
            result.failure = password.problem;
            continue;
        }
        std::unique_ptr<RemoteSession> client = makeSession(site.url);
        project.prepareSession(*client, site, *project.eventSink);
        if (const ClientResult login = client->connect(site.url, site.user, password.password.text()); !login.ok()) {
            result.failure = connectFailure(site, login);
            continue;
        }
        FullCompare compare(*client, project, project.local, startFolder(project, site), *project.eventSink);
        compare.allowConnections(site, makeSession);
        compare.Find();
        result.differences = compare.differences();
        if (client->isBroken()) {
            result.failure = "the connection to " + site.url + " was lost while listing the server";
            continue;
        }
        if (mode == CompareMode::Repair && !project.cancelRequested) {
            size_t serverOnly = 0;
            size_t differing = 0;
            for (const FullCompare::Difference& difference : result.differences) {
                serverOnly += difference.kind == FullCompare::Difference::Kind::OnlyOnServer ? 1 : 0;
                differing += difference.kind == FullCompare::Difference::Kind::SizeDiffers ? 1 : 0;
            }
            const size_t serverFiles = serverOnly + differing + static_cast<size_t>(compare.counts().sameSize);
            result.deletionsHeld = project.exceedsDeletionShare(serverOnly, serverFiles);
            result.outcomes = compare.Start(result.deletionsHeld ? FullCompare::Deletion::KeepServerOnlyFiles
                                                                 : FullCompare::Deletion::DeleteServerOnlyFiles,
                FullCompare::Resend::ChangedOnly);
            for (WebProject::StepOutcome& outcome : result.outcomes)
                outcome.site = number;
        }
        client->quit();
    }
    project.currentSite = 0;
    factory.hangUpIfDialed();
    const bool everySiteServed = std::all_of(
        compared.begin(), compared.end(), [](const SiteComparison& site) { return site.failure.empty(); });
    if (mode == CompareMode::Repair && everySiteServed && !compared.empty())
        recordRepair(project, compared);
    return compared;
}
