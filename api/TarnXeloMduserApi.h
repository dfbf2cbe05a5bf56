// Market-data client interface.
//
// An application creates the API object with CTarnXeloMduserApi::CreateXeloMduserApi,
// derives a class from CTarnXeloMduserSpi to receive callbacks, registers
// fronts or name servers and topics, calls Init, logs in after
// OnFrontConnected, and ends with Release and Join. Every callback runs on
// the API's single network thread; the request and registration operations
// may be called from any thread.
//
// The slot orders of both classes and the layouts of the records below are a
// binary contract: they never change within a major version.
#ifndef TARN_XELO_MDUSER_API_H
#define TARN_XELO_MDUSER_API_H

#define TARN_XELO_MDUSER_API_EXPORT __attribute__((visibility("default")))
#if defined(__clang__)
#define TARN_XELO_MDUSER_API_OUTLINE __attribute__((noinline))
#else
#define TARN_XELO_MDUSER_API_OUTLINE __attribute__((noinline, noipa))
#endif

// Records. Strings are NUL-terminated char arrays of the stated size; prices
// and other fixed-point quantities are doubles; natural alignment.

struct CTarnXeloReqUserLoginField {
    char TradingDay[9];
    char UserID[16];
    char ParticipantID[11];
    char Password[41];
    char UserProductInfo[41];
    char InterfaceProductInfo[41];
    char ProtocolInfo[41];
    int DataCenterID;
};

struct CTarnXeloRspUserLoginField {
    char TradingDay[9];
    char LoginTime[9];
    char MaxOrderLocalID[13];
    char UserID[16];
    char ParticipantID[11];
    char TradingSystemName[61];
    int DataCenterID;
    int PrivateFlowSize;
    int UserFlowSize;
    char ActionDay[9];
};

struct CTarnXeloRspInfoField {
    int ErrorID;  // 0 means success
    char ErrorMsg[81];
};

struct CTarnXeloReqUserLogoutField {
    char UserID[16];
    char ParticipantID[11];
};

struct CTarnXeloRspUserLogoutField {
    char UserID[16];
    char ParticipantID[11];
};

struct CTarnXeloUserPasswordUpdateField {
    char UserID[16];
    char ParticipantID[11];
    char OldPassword[41];
    char NewPassword[41];
};

struct CTarnXeloDisseminationField {
    short SequenceSeries;  // the topic id
    int SequenceNo;
};

struct CTarnXeloFlowMessageCancelField {
    short SequenceSeries;
    char TradingDay[9];
    int DataCenterID;
    int StartSequenceNo;
    int EndSequenceNo;
};

struct CTarnXeloDepthMarketDataField {
    char TradingDay[9];
    char SettlementGroupID[9];
    int SettlementID;
    double LastPrice;
    double PreSettlementPrice;
    double PreClosePrice;
    double PreOpenInterest;
    double OpenPrice;
    double HighestPrice;
    double LowestPrice;
    int Volume;
    double Turnover;
    double OpenInterest;
    double ClosePrice;
    double SettlementPrice;
    double UpperLimitPrice;
    double LowerLimitPrice;
    double PreDelta;
    double CurrDelta;
    char UpdateTime[9];
    int UpdateMillisec;
    char InstrumentID[31];
    double BidPrice1;
    int BidVolume1;
    double AskPrice1;
    int AskVolume1;
    double BidPrice2;
    int BidVolume2;
    double AskPrice2;
    int AskVolume2;
    double BidPrice3;
    int BidVolume3;
    double AskPrice3;
    int AskVolume3;
    double BidPrice4;
    int BidVolume4;
    double AskPrice4;
    int AskVolume4;
    double BidPrice5;
    int BidVolume5;
    double AskPrice5;
    int AskVolume5;
    char ActionDay[9];
};

static_assert(sizeof(CTarnXeloReqUserLoginField) == 204, "login request layout");
static_assert(sizeof(CTarnXeloRspUserLoginField) == 144, "login response layout");
static_assert(sizeof(CTarnXeloRspInfoField) == 88, "response info layout");
static_assert(sizeof(CTarnXeloReqUserLogoutField) == 27, "logout request layout");
static_assert(sizeof(CTarnXeloRspUserLogoutField) == 27, "logout response layout");
static_assert(sizeof(CTarnXeloUserPasswordUpdateField) == 109, "password update layout");
static_assert(sizeof(CTarnXeloDisseminationField) == 8, "dissemination layout");
static_assert(sizeof(CTarnXeloFlowMessageCancelField) == 24, "flow message cancel layout");
static_assert(sizeof(CTarnXeloDepthMarketDataField) == 368, "depth market data layout");

// Where a subscribed topic starts after Init. Any other value acts as
// TE_RESUME_FROM_BEGINNING.
enum TE_RESUME_TYPE {
    TE_RESUME_FROM_BEGINNING = 0,  // the topic from sequence 0
    TE_RESUME_FROM_SAVED = 1,      // from the count saved by the last run
    TE_RESUME_FROM_NOW = 2,        // only what is published from now on
};

// Callbacks. Override what you need; every default does nothing. Record
// pointers are valid only during the call. In every OnRsp* callback the int
// is the request id and the bool is true on the last response to a request.
// The table holds exactly the callbacks, with no destructor slot in front of
// them; applications delete their own derived objects.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class CTarnXeloMduserSpi {
  public:
    virtual void OnFrontConnected() {}
    virtual void OnFrontDisconnected(int nReason) { (void)nReason; }
    virtual void OnHeartBeatWarning(int nTimeLapse) { (void)nTimeLapse; }
    virtual void OnPackageStart(int nTopicID, int nSequenceNo) {
        (void)nTopicID;
        (void)nSequenceNo;
    }
    virtual void OnPackageEnd(int nTopicID, int nSequenceNo) {
        (void)nTopicID;
        (void)nSequenceNo;
    }
    virtual void OnRspError(CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
        (void)pRspInfo;
        (void)nRequestID;
        (void)bIsLast;
    }
    virtual void OnRspUserLogin(CTarnXeloRspUserLoginField* pRspUserLogin,
                                CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
        (void)pRspUserLogin;
        (void)pRspInfo;
        (void)nRequestID;
        (void)bIsLast;
    }
    virtual void OnRspUserLogout(CTarnXeloRspUserLogoutField* pRspUserLogout,
                                 CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
        (void)pRspUserLogout;
        (void)pRspInfo;
        (void)nRequestID;
        (void)bIsLast;
    }
    virtual void OnRspUserPasswordUpdate(CTarnXeloUserPasswordUpdateField* pUserPasswordUpdate,
                                         CTarnXeloRspInfoField* pRspInfo, int nRequestID,
                                         bool bIsLast) {
        (void)pUserPasswordUpdate;
        (void)pRspInfo;
        (void)nRequestID;
        (void)bIsLast;
    }
    virtual void OnRspSubscribeTopic(CTarnXeloDisseminationField* pDissemination,
                                     CTarnXeloRspInfoField* pRspInfo, int nRequestID,
                                     bool bIsLast) {
        (void)pDissemination;
        (void)pRspInfo;
        (void)nRequestID;
        (void)bIsLast;
    }
    virtual void OnRspQryTopic(CTarnXeloDisseminationField* pDissemination,
                               CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
        (void)pDissemination;
        (void)pRspInfo;
        (void)nRequestID;
        (void)bIsLast;
    }
    virtual void OnRtnFlowMessageCancel(CTarnXeloFlowMessageCancelField* pFlowMessageCancel) {
        (void)pFlowMessageCancel;
    }
    virtual void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* pDepthMarketData) {
        (void)pDepthMarketData;
    }
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The API object. Never deleted by the application: Release ends its work
// and Join (after Release) frees it.
class TARN_XELO_MDUSER_API_EXPORT CTarnXeloMduserApi {
  public:
    // Creates an API object. flow_path prefixes the connection file
    // ("md.con"); it may be empty.
    static CTarnXeloMduserApi* CreateXeloMduserApi(const char* flow_path = "");

    // Returns the version text and sets the build date (yyyymm) and time (hhmm).
    static const char* GetVersion(int& nMajorVersion, int& nMinorVersion);

    virtual int Release() = 0;
    virtual int Init() = 0;
    virtual int Join() = 0;
    virtual const char* GetTradingDay() = 0;
    virtual int RegisterFront(const char* pszFrontAddress) = 0;
    virtual int RegisterNameServer(const char* pszNsAddress) = 0;
    virtual void RegisterSpi(CTarnXeloMduserSpi* pSpi) = 0;
    virtual int SubscribeMarketDataTopic(int nTopicID, TE_RESUME_TYPE nResumeType) = 0;
    virtual int SetHeartbeatTimeout(unsigned int timeout) = 0;
    virtual int OpenRequestLog(const char* pszReqLogFileName) = 0;
    virtual int OpenResponseLog(const char* pszRspLogFileName) = 0;
    virtual int ReqUserLogin(CTarnXeloReqUserLoginField* pReqUserLogin, int nRequestID) = 0;
    virtual int ReqUserLogout(CTarnXeloReqUserLogoutField* pReqUserLogout, int nRequestID) = 0;
    virtual int ReqUserPasswordUpdate(CTarnXeloUserPasswordUpdateField* pUserPasswordUpdate,
                                      int nRequestID) = 0;
    virtual int ReqSubscribeTopic(CTarnXeloDisseminationField* pDissemination, int nRequestID) = 0;
    virtual int ReqQryTopic(CTarnXeloDisseminationField* pDissemination, int nRequestID) = 0;

  protected:
    // Kept out of line so every object file that constructs the interface
    // (the library above all) carries and exports its virtual table.
    TARN_XELO_MDUSER_API_OUTLINE CTarnXeloMduserApi() {}
    ~CTarnXeloMduserApi() {}
};

#endif  // TARN_XELO_MDUSER_API_H
