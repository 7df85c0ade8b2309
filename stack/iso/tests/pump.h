// Moves bytes between a client and a server association until neither has
// anything to send, collecting the events of both sides.
#pragma once

#include "iso/association.h"

#include <functional>

namespace zv::iso::test {

struct Pump {
    Pump(ClientAssociation& c, ServerAssociation& s) : client(c), server(s) {}
    ClientAssociation& client;
    ServerAssociation& server;
    std::vector<Event> clientEvents;
    std::vector<Event> serverEvents;
    // Sees every chunk as it leaves a side (true: from the client).
    std::function<void(bool, const Bytes&)> tap;
    // Reads are cut into pieces of this size to exercise reassembly.
    std::size_t chunk = 0;

    void run() {
        while (client.hasOutput() || server.hasOutput()) {
            if (client.hasOutput()) deliver(true, client.takeOutput());
            if (server.hasOutput()) deliver(false, server.takeOutput());
        }
    }

    // One step each way, for tests that stop halfway.
    void deliverClient() {
        if (client.hasOutput()) deliver(true, client.takeOutput());
    }
    void deliverServer() {
        if (server.hasOutput()) deliver(false, server.takeOutput());
    }

private:
    void deliver(bool fromClient, const Bytes& bytes) {
        if (tap) tap(fromClient, bytes);
        AssociationBase& to = fromClient ? static_cast<AssociationBase&>(server) : client;
        std::vector<Event>& into = fromClient ? serverEvents : clientEvents;
        const std::size_t step = chunk ? chunk : bytes.size();
        for (std::size_t pos = 0; pos < bytes.size(); pos += step) {
            const std::size_t n = bytes.size() - pos < step ? bytes.size() - pos : step;
            for (Event& e : to.onBytes(ByteView(bytes.data() + pos, n))) into.push_back(std::move(e));
        }
    }
};

}  // namespace zv::iso::test
