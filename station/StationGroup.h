// SPDX-License-Identifier: GPL-3.0-or-later
// Every station one process runs and the one directory that lists them all.
// Built in full before anything runs: every source opened, every socket
// bound, so that a station that cannot be had leaves nothing half started.
// Runs on the one io_context thread, like its stations.
#pragma once

#include "DirectoryServer.h"
#include "Options.h"
#include "Station.h"

#include <asio.hpp>

#include <memory>
#include <optional>
#include <vector>

namespace station {

class StationGroup {
public:
    // Throws std::runtime_error naming the station (its origin and name) and
    // what could not be had: its source, or its address.
    StationGroup(asio::io_context& io, const std::vector<StationPlan>& plans, const std::optional<HostPort>& directory,
                 const std::vector<ListedStation>& listed);

    void Start();
    void Stop();

    // In the order of the plans.
    const std::vector<std::unique_ptr<Station>>& Stations() const { return stations_; }
    std::optional<asio::ip::tcp::endpoint> DirectoryEndpoint() const;

private:
    std::vector<std::unique_ptr<Station>> stations_;
    std::unique_ptr<DirectoryServer> directory_;
};

} // namespace station
