// Smallest application: create the API, register fronts (or name servers
// with -n), print the version and the return codes.
//   basic_client tcp://192.0.2.1:30007 tcp://192.0.2.2:30007
//   basic_client -n tcp://192.0.2.9:30011
#include <TarnXeloMduserApi.h>

#include <cstdio>
#include <cstring>

class QuietSpi : public CTarnXeloMduserSpi {
  public:
    void OnFrontConnected() override { printf("front connected\n"); }
    void OnFrontDisconnected(int reason) override { printf("front disconnected: %d\n", reason); }
};

int main(int argc, char** argv) {
    int date = 0, time = 0;
    const char* version = CTarnXeloMduserApi::GetVersion(date, time);
    printf("version: %s (%d, %d)\n", version, date, time);

    CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi("");
    QuietSpi spi;
    api->RegisterSpi(&spi);
    bool name_servers = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-n") == 0) {
            name_servers = true;
            continue;
        }
        if (name_servers)
            printf("RegisterNameServer(%s) = %d\n", argv[i], api->RegisterNameServer(argv[i]));
        else
            printf("RegisterFront(%s) = %d\n", argv[i], api->RegisterFront(argv[i]));
    }
    printf("SubscribeMarketDataTopic(100, TE_RESUME_FROM_NOW) = %d\n",
           api->SubscribeMarketDataTopic(100, TE_RESUME_FROM_NOW));
    printf("SetHeartbeatTimeout(30) = %d\n", api->SetHeartbeatTimeout(30));
    printf("Init() = %d\n", api->Init());
    printf("Release() = %d\n", api->Release());
    return 0;
}
