#include "OstrelClientConfig/Settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "Corvel/DaemonComm.h"
#include "OstrelClientConfig/FileReplace.h"
#include "OstrelData/Exception.h"

namespace OstrelClientConfig {

namespace {

const char* const pszHKLMPath = "/etc/ostreld/rcostrel";
const char* const pszHKCUFile = "/.rcostrel";
const char* const pszVendor = "Tessaly";
const char* const pszProduct = "Ostrel";

std::string defaultHKCU()
{
    const char* pszHome = std::getenv("HOME");
    return pszHome ? std::string(pszHome) + pszHKCUFile : std::string();
}

// The names of what failed, joined by ", "; thrown at each checkpoint.
class ProblemList {
public:
    void add(const std::string& strProblem)
    {
        if (!_str.empty())
            _str += ", ";
        _str += strProblem;
    }
    void checkpoint() const
    {
        if (!_str.empty())
            OSTREL_RAISE(OstrelData::nNAX_BADCONFIG, _str);
    }

private:
    std::string _str;
};

// Opened descriptor that closes itself however load ends.
class FileHandle {
public:
    explicit FileHandle(int fd) : _fd(fd) {}
    ~FileHandle()
    {
        if (_fd >= 0)
            ::close(_fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int fd() const { return _fd; }
    bool isOpen() const { return _fd >= 0; }

private:
    int _fd;
};

// Reads the file into doc; false when it cannot be read whole or does not parse.
// An empty file leaves the document as it is.
bool readDocument(int fd, Vesk::XMLDoc& doc)
{
    std::string strText;
    std::string strReason;
    if (!FileReplace::readAll(fd, Settings::nMaxFileBytes, strText, strReason))
        return false;
    if (strText.empty())
        return true;
    try {
        doc.fromStream(strText);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// The element's text when it exists and has one.
void readValue(const Vesk::XMLNode* pparent, const char* pszName, std::string& strMember)
{
    const Vesk::XMLNode* pnode = pparent->findChild(pszName);
    if (pnode) {
        Vesk::String strValue = pnode->value();
        if (!strValue.isNull())
            strMember = strValue.str();
    }
}

// The machine's trust for "tls:" services, element by element as readValue takes them.
void readTls(const Vesk::XMLNode* pproduct, std::string& strCAFile, std::string& strPin, std::string& strCertFile,
             std::string& strKeyFile)
{
    readValue(pproduct, "TlsCAFile", strCAFile);
    readValue(pproduct, "TlsPin", strPin);
    readValue(pproduct, "TlsCertFile", strCertFile);
    readValue(pproduct, "TlsKeyFile", strKeyFile);
}

// Makes the machine's trust for "tls:" services the process's, as soon as the machine-wide
// document is read: a user's settings that then fail to load must not leave connections
// trusting the system's CA store instead of the administrator's pin or CA.
void applyMachineTls(const Vesk::XMLDoc& docHKLM)
{
    const Vesk::XMLNode* proot = docHKLM.rootNode();
    const Vesk::XMLNode* pvendor = proot ? proot->findChild(pszVendor) : nullptr;
    const Vesk::XMLNode* pproduct = pvendor ? pvendor->findChild(pszProduct) : nullptr;
    if (!pproduct)
        return;
    Corvel::DaemonCommTls tls;
    readTls(pproduct, tls.strCAFile, tls.strPin, tls.strCertFile, tls.strKeyFile);
    if (!tls.strCAFile.empty() || !tls.strPin.empty() || !tls.strCertFile.empty())
        Corvel::DaemonComm::setDefaultTls(tls);
}

const char* stepName(FileReplace::Step step)
{
    switch (step) {
    case FileReplace::Step::createTemp: return "create";
    case FileReplace::Step::write: return "write";
    case FileReplace::Step::sync: return "sync";
    case FileReplace::Step::rename: return "rename";
    }
    return "write";
}

void writeDocument(const Vesk::XMLDoc& doc, const std::string& strPath, mode_t mode, const char* pszHive)
{
    FileReplace::Result result = FileReplace::replace(strPath, doc.stream().str(), mode);
    if (result.bOk)
        return;
    if (result.step == FileReplace::Step::createTemp)
        OSTREL_RAISE(OstrelData::nNAX_BADCONFIG, std::string("Failed to open ") + pszHive + " For writing.");
    OSTREL_RAISE(OstrelData::nNAX_BADCONFIG, std::string("Failed to ") + stepName(result.step) + " " + pszHive +
                                                 " (" + strPath + "): " + std::strerror(result.nErrno));
}

} // namespace

Settings* Settings::_psettings = nullptr;

// --- Settings::Domain ------------------------------------------------------

Settings::Domain::Domain(const std::string& strDomain) : _strDomain(strDomain) {}
Settings::Domain::Domain(const Domain& other) = default;
Settings::Domain& Settings::Domain::operator=(const Domain& other) = default;
Settings::Domain::~Domain() = default;

bool Settings::Domain::isDefault() const
{
    return _psettings && _psettings->defaultDomain() == _strDomain;
}

void Settings::Domain::setDefault(bool)
{
    if (_psettings)
        _psettings->setDefaultDomain(*this);
}

// --- Settings::Profile -----------------------------------------------------

Settings::Profile::Profile(const std::string& strProfile) : OstrelData::Profile(strProfile, false) {}
Settings::Profile::Profile(const Profile& other) = default;
Settings::Profile::Profile(const OstrelData::Profile& other) : OstrelData::Profile(other) {}
Settings::Profile& Settings::Profile::operator=(const Profile& other) = default;
Settings::Profile::~Profile() = default;

bool Settings::Profile::isDefault() const
{
    return _psettings && _psettings->defaultProfile() == profile();
}

void Settings::Profile::setDefault(bool)
{
    if (_psettings)
        _psettings->setDefaultProfile(*this);
}

// --- Settings --------------------------------------------------------------

Settings::Settings() : Settings(pszHKLMPath, defaultHKCU()) {}

Settings::Settings(const std::string& strHKLM, const std::string& strHKCU)
    : _bAdmin(false),
      _strHKCU(strHKCU),
      _strHKLM(strHKLM),
      _docHKCU("HKCU", "1.0", "UTF-8"),
      _docHKLM("HKLM", "1.0", "UTF-8"),
      _keyHKCU(nullptr),
      _keyHKLM(nullptr),
      _keyRootTessalyCU(nullptr),
      _keyRootTessalyLM(nullptr),
      _keyRootOstrelCU(nullptr),
      _keyRootOstrelLM(nullptr)
{
}

Settings::~Settings()
{
    if (_psettings == this)
        _psettings = nullptr;
}

void Settings::load(bool bAdmin)
{
    // A failed reload must not leave pointers into documents it re-parsed: the
    // object counts as unloaded until this load succeeds.
    _keyHKCU = _keyHKLM = nullptr;
    _keyRootTessalyCU = _keyRootTessalyLM = nullptr;
    _keyRootOstrelCU = _keyRootOstrelLM = nullptr;
    _docHKCU = Vesk::XMLDoc("HKCU", "1.0", "UTF-8");
    _docHKLM = Vesk::XMLDoc("HKLM", "1.0", "UTF-8");

    ProblemList problems;
    _bAdmin = bAdmin;

    // Not waited on: a FIFO put in the file's place would hold the load until something wrote to
    // it; opened at once, it is refused as no regular file when read.
    FileHandle fileLM(bAdmin ? ::open(_strHKLM.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)
                             : ::open(_strHKLM.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fileLM.isOpen())
        problems.add("HKLM (" + _strHKLM + ")");
    FileHandle fileCU(_strHKCU.empty() ? -1 : ::open(_strHKCU.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640));
    if (!fileCU.isOpen())
        problems.add("HKCU");
    problems.checkpoint();

    if (!readDocument(fileLM.fd(), _docHKLM))
        problems.add("HKLM");
    else
        applyMachineTls(_docHKLM);
    if (!readDocument(fileCU.fd(), _docHKCU))
        problems.add("HKCU");
    problems.checkpoint();

    Vesk::XMLNode* keyHKCU = _docHKCU.rootNode();
    Vesk::XMLNode* keyHKLM = _docHKLM.rootNode();
    if (!keyHKCU)
        problems.add("HKCU");
    if (!keyHKLM)
        problems.add("HKLM");
    problems.checkpoint();

    Vesk::XMLNode* keyTessalyLM = keyHKLM->findChild(pszVendor);
    if (!keyTessalyLM && bAdmin)
        keyTessalyLM = keyHKLM->addNode(pszVendor);
    Vesk::XMLNode* keyTessalyCU = keyHKCU->findChild(pszVendor);
    if (!keyTessalyCU)
        keyTessalyCU = keyHKCU->addNode(pszVendor);
    if (!keyTessalyLM)
        problems.add("HKLM\\Tessaly");
    if (!keyTessalyCU)
        problems.add("HKCU\\Tessaly");
    problems.checkpoint();

    Vesk::XMLNode* keyOstrelLM = keyTessalyLM->findChild(pszProduct);
    if (!keyOstrelLM && bAdmin)
        keyOstrelLM = keyTessalyLM->addNode(pszProduct);
    Vesk::XMLNode* keyOstrelCU = keyTessalyCU->findChild(pszProduct);
    if (!keyOstrelCU)
        keyOstrelCU = keyTessalyCU->addNode(pszProduct);
    if (!keyOstrelLM)
        problems.add("HKLM\\Tessaly\\Ostrel");
    if (!keyOstrelCU)
        problems.add("HKCU\\Tessaly\\Ostrel");
    problems.checkpoint();

    _keyHKCU = keyHKCU;
    _keyHKLM = keyHKLM;
    _keyRootTessalyCU = keyTessalyCU;
    _keyRootTessalyLM = keyTessalyLM;
    _keyRootOstrelCU = keyOstrelCU;
    _keyRootOstrelLM = keyOstrelLM;

    readValue(keyOstrelLM, "Connect", _strOstrelLocal);
    readValue(keyOstrelLM, "Master", _strOstrelMaster);
    readTls(keyOstrelLM, _strTlsCAFile, _strTlsPin, _strTlsCertFile, _strTlsKeyFile);
    readValue(keyOstrelCU, "Domain", _strDomain);
    readValue(keyOstrelCU, "Profile", _strProfile);
    readValue(keyOstrelCU, "UserId", _strUserId);

    if (Vesk::XMLNode* pdomains = keyOstrelCU->findChild("Domains")) {
        for (Vesk::XMLNode* p = pdomains->findChild("Domain"); p; p = pdomains->findChild("Domain", p)) {
            Vesk::String strName = p->value();
            if (!strName.isNull())
                _domainS[strName.str()] = Domain(strName.str());
        }
    } else {
        keyOstrelCU->addNode("Domains");
    }

    if (Vesk::XMLNode* pprofiles = keyOstrelCU->findChild("Profiles")) {
        for (Vesk::XMLNode* p = pprofiles->findChild("Profile"); p; p = pprofiles->findChild("Profile", p)) {
            Vesk::String strName = p->value();
            if (!strName.isNull())
                _profileS[strName.str()] = Profile(strName.str());
        }
    } else {
        keyOstrelCU->addNode("Profiles");
    }

    _psettings = this;
}

void Settings::requireLoaded() const
{
    if (!_keyRootOstrelCU || !_keyRootOstrelLM)
        OSTREL_RAISE(OstrelData::nNAX_BADCONFIG, "Settings not loaded.");
}

Vesk::XMLNode* Settings::childKey(Vesk::XMLNode* pparent, const char* pszName, const std::string& strLegend)
{
    Vesk::XMLNode* pnode = pparent->findChild(pszName);
    if (!pnode) {
        try {
            pnode = pparent->addNode(pszName);
        } catch (const std::exception&) {
            pnode = nullptr;
        }
    }
    if (!pnode)
        OSTREL_RAISE(OstrelData::nNAX_BADCONFIG, strLegend);
    return pnode;
}

void Settings::setValue(Vesk::XMLNode* pparent, const char* pszName, const std::string& strValue)
{
    if (Vesk::XMLNode* pnode = pparent->findChild(pszName))
        pnode->value(strValue);
    else
        pparent->addNode(pszName, strValue);
}

void Settings::setDefaultDomain(const Domain& domain)
{
    requireLoaded();
    if (_domainS.find(domain.domain()) == _domainS.end()) {
        Vesk::XMLNode* pdomains = childKey(_keyRootOstrelCU, "Domains", "Failed to create domains key.");
        pdomains->addNode("Domain", domain.domain());
        _domainS[domain.domain()] = domain;
    }
    _strDomain = domain.domain();
    setValue(_keyRootOstrelCU, "Domain", domain.domain());
    save();
}

void Settings::setDefaultProfile(const Profile& profile)
{
    requireLoaded();
    if (_profileS.find(profile.profile()) == _profileS.end()) {
        Vesk::XMLNode* pprofiles = childKey(_keyRootOstrelCU, "Profiles", "Failed to create profiles key.");
        pprofiles->addNode("Profile", profile.profile());
        _profileS[profile.profile()] = profile;
    }
    _strProfile = profile.profile();
    setValue(_keyRootOstrelCU, "Profile", profile.profile());
    save();
}

void Settings::setUserId(const std::string& strUserId)
{
    requireLoaded();
    _strUserId = strUserId;
    setValue(_keyRootOstrelCU, "UserId", strUserId);
    save();
}

void Settings::setOstrelLocal(const std::string& strHost)
{
    requireLoaded();
    setValue(_keyRootOstrelLM, "Connect", strHost);
    save();
}

void Settings::setOstrelMaster(const std::string& strHost)
{
    requireLoaded();
    setValue(_keyRootOstrelLM, "Master", strHost);
    save();
}

void Settings::setTlsCAFile(const std::string& strPath)
{
    requireLoaded();
    setValue(_keyRootOstrelLM, "TlsCAFile", strPath);
    save();
}

void Settings::setTlsPin(const std::string& strPin)
{
    requireLoaded();
    if (!strPin.empty() && !Corvel::DaemonComm::isPin(strPin))
        OSTREL_RAISE(OstrelData::nNAX_BADCONFIG,
                     "A TLS pin is the SHA-256 of a public key: 64 hex digits, or sha256// and Base64.");
    setValue(_keyRootOstrelLM, "TlsPin", strPin);
    save();
}

void Settings::setTlsClientCertificate(const std::string& strCertFile, const std::string& strKeyFile)
{
    requireLoaded();
    setValue(_keyRootOstrelLM, "TlsCertFile", strCertFile);
    setValue(_keyRootOstrelLM, "TlsKeyFile", strKeyFile);
    save();
}

void Settings::save()
{
    requireLoaded();
    writeDocument(_docHKCU, _strHKCU, 0640, "HKCU");
    if (_bAdmin)
        writeDocument(_docHKLM, _strHKLM, 0644, "HKLM");
}

} // namespace OstrelClientConfig
