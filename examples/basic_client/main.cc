// A complete receiving application: connects to a front, logs in, subscribes
// a topic and prints each depth update until it has N of them or time is up.
//   basic_client FRONT USER PASSWORD [TOPIC [UPDATES [SECONDS]]]
//   basic_client tcp://127.0.0.1:30007 demo demo 100 20 10
// Exit status: 0 with UPDATES updates received, 1 otherwise, 2 bad arguments.
#include <TarnXeloMduserApi.h>

#include <atomic>
#include <cfloat>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

// A price the front did not send (an empty side of the book) holds DBL_MAX.
static double shown(double price) {
    return price == DBL_MAX ? 0 : price;
}

// Callbacks run one at a time on the library's network thread.
struct Client : CTarnXeloMduserSpi {
    CTarnXeloMduserApi* api = nullptr;
    CTarnXeloReqUserLoginField login{};
    std::atomic<int> updates{0};
    std::atomic<bool> refused{false};

    // Every connection, first or after a failover, starts with a login.
    void OnFrontConnected() override { api->ReqUserLogin(&login, 1); }
    void OnFrontDisconnected(int reason) override { printf("disconnected: %d\n", reason); }
    void OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField* info, int,
                        bool) override {
        refused = info != nullptr && info->ErrorID != 0;
        printf("login: %d %s\n", info ? info->ErrorID : 0, info ? info->ErrorMsg : "");
    }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* d) override {
        printf("%s last %.2f bid %.2f x %d ask %.2f x %d\n", d->InstrumentID, shown(d->LastPrice),
               shown(d->BidPrice1), d->BidVolume1, shown(d->AskPrice1), d->AskVolume1);
        ++updates;
    }
};

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: basic_client FRONT USER PASSWORD [TOPIC [UPDATES [SECONDS]]]\n");
        return 2;
    }
    int topic = argc > 4 ? atoi(argv[4]) : 100, wanted = argc > 5 ? atoi(argv[5]) : 10;
    auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(argc > 6 ? atoi(argv[6]) : 30);

    Client client;
    snprintf(client.login.UserID, sizeof client.login.UserID, "%s", argv[2]);
    snprintf(client.login.Password, sizeof client.login.Password, "%s", argv[3]);
    snprintf(client.login.UserProductInfo, sizeof client.login.UserProductInfo, "basic_client");
    // The flow path "" puts the connection file md.con in the current directory.
    client.api = CTarnXeloMduserApi::CreateXeloMduserApi("");
    client.api->RegisterSpi(&client);
    client.api->RegisterFront(argv[1]);
    client.api->SubscribeMarketDataTopic(topic, TE_RESUME_FROM_NOW);
    if (client.api->Init() == 0) {
        while (client.updates < wanted && !client.refused && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        client.api->Release();  // no callback runs after it returns
    }
    client.api->Join();  // frees the API object
    return client.updates >= wanted ? 0 : 1;
}
