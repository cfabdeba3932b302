// SPDX-License-Identifier: GPL-3.0-or-later
#include "StationGroup.h"

#include "Log.h"

namespace station {

namespace {

// How a message about one station begins: where it was described, or
// nothing for the one station of a command line.
std::string About(const StationPlan& plan)
{
    return plan.origin.empty() ? std::string() : plan.origin + ": ";
}

} // namespace

StationGroup::StationGroup(asio::io_context& io, const std::vector<StationPlan>& plans,
                           const std::optional<HostPort>& directory, const std::vector<ListedStation>& listed)
{
    // Sources first: opening one may take a while (a remote stream), and no
    // socket should accept a listener for a station that then fails to start.
    std::vector<std::unique_ptr<AudioSource>> sources;
    for (const StationPlan& plan : plans) {
        try {
            sources.push_back(MakeSource(plan.settings.source, plan.settings.format, plan.settings.play));
        } catch (const std::exception& e) {
            throw std::runtime_error(About(plan) + e.what());
        }
    }
    for (std::size_t i = 0; i < plans.size(); ++i) {
        try {
            stations_.push_back(std::make_unique<Station>(io, plans[i].settings, std::move(sources[i]), plans[i].label));
        } catch (const std::exception& e) {
            throw std::runtime_error(About(plans[i]) + "cannot listen on " + plans[i].settings.listen.Text() + ": "
                                     + e.what());
        }
    }
    if (!directory)
        return;
    std::vector<DirectoryEntry> entries;
    for (const auto& station : stations_)
        entries.push_back({station->Announced().Text(), station->Settings().name});
    for (const ListedStation& s : listed)
        entries.push_back({s.address, s.name});
    try {
        directory_ = std::make_unique<DirectoryServer>(io, ResolvePassive(io, *directory), std::move(entries));
    } catch (const std::exception& e) {
        throw std::runtime_error("directory: cannot listen on " + directory->Text() + ": " + e.what());
    }
}

void StationGroup::Start()
{
    for (const auto& station : stations_) {
        station->Start();
        LogLine(station->LogPrefix() + "on the air: " + station->Settings().source);
    }
    if (directory_)
        directory_->Start();
}

void StationGroup::Stop()
{
    for (const auto& station : stations_)
        station->Stop();
    if (directory_)
        directory_->Stop();
}

std::optional<asio::ip::tcp::endpoint> StationGroup::DirectoryEndpoint() const
{
    if (!directory_)
        return std::nullopt;
    return directory_->LocalEndpoint();
}

} // namespace station
