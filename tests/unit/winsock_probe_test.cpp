// temporary probe
#include "winsock_api.h"
#include <thread>
#include <stdio.h>
namespace {
class WinsockProbe : public WinsockFixture {
protected:
    SOCKET ListenOn(u_short *p) { SOCKET s = Open(); SOCKADDR_IN sin = V4(INADDR_LOOPBACK, 0); int cb=sizeof sin; ws.bind(s,(sockaddr*)&sin,cb); ws.listen(s,5); ws.getsockname(s,(sockaddr*)&sin,&cb); *p = ws.ntohs(sin.sin_port); return s; }
    void Pair(SOCKET *c, SOCKET *sv) { u_short p; SOCKET l = ListenOn(&p); *c = Open(); SOCKADDR_IN sin = V4(INADDR_LOOPBACK, p); ws.connect(*c,(sockaddr*)&sin,sizeof sin); *sv = Keep(ws.accept(l,0,0)); }
};
#define P(...) (printf("PROBE " __VA_ARGS__), fflush(stdout))
#define R(expr) do { ws.WSASetLastError(777); long long r_ = (long long)(expr); printf("PROBE %-60s -> %lld err %d\n", #expr, r_, ws.WSAGetLastError()); fflush(stdout); } while (0)
TEST_F(WinsockProbe, All) {
    WSADATA d; SetLastError(1234); int r = ws.WSAStartup(MAKEWORD(2,2), &d); P("startup r=%d le=%lu desc=%s status=%s maxs=%d\n", r, (unsigned long)GetLastError(), d.szDescription, d.szSystemStatus, d.iMaxSockets); ws.WSACleanup();
    SetLastError(1234); r = ws.WSAStartup(MAKEWORD(1,0), &d); P("startup1.0 r=%d le=%lu ver=%x\n", r, (unsigned long)GetLastError(), d.wVersion); if(!r) ws.WSACleanup();
    R(Keep(ws.socket(AF_UNSPEC, SOCK_STREAM, IPPROTO_TCP)));
    R(Keep(ws.socket(AF_UNSPEC, SOCK_STREAM, 0)));
    R(Keep(ws.socket(AF_INET, SOCK_DGRAM, 0)));
    R(Keep(ws.socket(AF_INET, 99, 0)));
    R(Keep(ws.socket(AF_INET, SOCK_STREAM, 99)));
    R(Keep(ws.socket(AF_INET, SOCK_DGRAM, IPPROTO_TCP)));
    { SOCKET s = Open(); int v=0, cb=4; R(ws.getsockopt(s, 0x1234, 1, (char*)&v, &cb)); R(ws.setsockopt(s, 0x1234, 1, (char*)&v, 4));
      R(ws.getsockopt(s, IPPROTO_TCP, 0x77, (char*)&v, &cb)); R(ws.getsockopt(s, IPPROTO_IPV6, 27, (char*)&v, &cb)); R(ws.getsockopt(s, IPPROTO_IP, 0x77, (char*)&v, &cb));
      v = 10; R(ws.setsockopt(s, IPPROTO_IPV6, 23, (char*)&v, 4));
      int one = 1; ws.setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, (char*)&one, 4); v = 0x55555555; cb = 4; R(ws.getsockopt(s, SOL_SOCKET, SO_KEEPALIVE, (char*)&v, &cb)); P("keepalive v=%x cb=%d\n", v, cb);
      v = 0x55555555; cb = 4; R(ws.getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, (char*)&v, &cb)); P("acceptconn v=%x cb=%d\n", v, cb);
      v = 0x55555555; cb = 1; R(ws.getsockopt(s, SOL_SOCKET, SO_KEEPALIVE, (char*)&v, &cb)); P("keepalive short v=%x cb=%d\n", v, cb);
      v = 0x55555555; cb = 2; R(ws.getsockopt(s, SOL_SOCKET, SO_RCVBUF, (char*)&v, &cb)); P("rcvbuf short v=%x cb=%d\n", v, cb);
      v = 0x55555555; cb = 8; R(ws.getsockopt(s, SOL_SOCKET, SO_RCVBUF, (char*)&v, &cb)); P("rcvbuf v=%d cb=%d\n", v, cb);
      v = 0x55555555; cb = 4; R(ws.getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (char*)&v, &cb)); P("sndtimeo v=%d cb=%d\n", v, cb);
      v = 1; R(ws.setsockopt(s, SOL_SOCKET, SO_ERROR, (char*)&v, 4)); R(ws.setsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, (char*)&v, 4)); R(ws.setsockopt(s, SOL_SOCKET, SO_TYPE, (char*)&v, 4));
      v = 1; R(ws.setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, (char*)&v, 1));
      v = 0; R(ws.setsockopt(s, SOL_SOCKET, SO_DONTLINGER, (char*)&v, 4)); struct linger lg={9,9}; cb=4; R(ws.getsockopt(s, SOL_SOCKET, SO_LINGER,(char*)&lg,&cb)); P("linger %d %d\n", lg.l_onoff, lg.l_linger);
      v = 9; cb=4; R(ws.getsockopt(s, SOL_SOCKET, SO_DONTLINGER,(char*)&v,&cb)); P("dontlinger %d\n", v);
      v = 5; R(ws.setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (char*)&v, 4)); v=0; cb=4; ws.getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (char*)&v, &cb); P("rcvtimeo 5 -> %d\n", v);
      u_long ul=9; R(ws.ioctlsocket(s, FIONREAD, &ul)); P("fionread fresh %lu\n", (unsigned long)ul);
      char b; R(ws.recv(s, &b, 1, 0)); R(ws.send(s, &b, 1, 0)); R(ws.shutdown(s, SD_SEND));
      SOCKADDR_IN6 s6 = V6Loopback(0); R(ws.bind(s, (sockaddr*)&s6, sizeof s6));
      SOCKADDR_IN any = V4(0, 143); R(ws.connect(s, (sockaddr*)&any, sizeof any));
      SOCKADDR_IN p0 = V4(INADDR_LOOPBACK, 0); R(ws.connect(s, (sockaddr*)&p0, sizeof p0));
      R(ws.accept(s, NULL, NULL));
      R(ws.recv(s, &b, -1, 0)); R(ws.recv(s, NULL, 1, 0));
    }
    { u_short p; SOCKET l = ListenOn(&p); u_long ul=9; R(ws.ioctlsocket(l, FIONREAD, &ul)); R(ws.shutdown(l, SD_SEND)); char b;
      SOCKET c = Open(); SOCKADDR_IN sin = V4(INADDR_LOOPBACK, p); ws.connect(c,(sockaddr*)&sin,sizeof sin); R(ws.listen(c, 5)); R(ws.connect(c,(sockaddr*)&sin,sizeof sin)); 
      SOCKADDR_IN6 s6 = V6Loopback(p); R(ws.connect(Open(),(sockaddr*)&s6,sizeof s6));
      { u_long one = 1; ws.ioctlsocket(c, FIONBIO, &one); } R(ws.recv(c, &b, 1, 0x40)); R(ws.send(c, &b, 1, 0x40)); R(ws.recv(c, &b, 1, 0x100)); R(ws.recv(c, &b, 1, 8));
    }
    { // refused
      SOCKET r = Open(); SOCKADDR_IN sin = V4(INADDR_LOOPBACK, 0); int cb=sizeof sin; ws.bind(r,(sockaddr*)&sin,cb); ws.getsockname(r,(sockaddr*)&sin,&cb);
      SOCKET s = Open(); u_long one=1; ws.ioctlsocket(s, FIONBIO, &one); R(ws.connect(s,(sockaddr*)&sin,sizeof sin));
      Sleep(50);
      fd_set rd, wr, ex; FD_ZERO(&rd); FD_ZERO(&wr); FD_ZERO(&ex); FD_SET(s,&rd); FD_SET(s,&wr); FD_SET(s,&ex); timeval tv={1,0};
      R(ws.select(0,&rd,&wr,&ex,&tv)); P("sets %u %u %u\n", rd.fd_count, wr.fd_count, ex.fd_count);
      int v=-1; cb=4; R(ws.getsockopt(s,SOL_SOCKET,SO_ERROR,(char*)&v,&cb)); P("soerr1 %d\n", v);
      v=-1; cb=4; R(ws.getsockopt(s,SOL_SOCKET,SO_ERROR,(char*)&v,&cb)); P("soerr2 %d\n", v);
      FD_ZERO(&rd); FD_ZERO(&wr); FD_ZERO(&ex); FD_SET(s,&rd); FD_SET(s,&wr); FD_SET(s,&ex); tv.tv_sec=0; tv.tv_usec=100000;
      R(ws.select(0,&rd,&wr,&ex,&tv)); P("sets again %u %u %u\n", rd.fd_count, wr.fd_count, ex.fd_count);
      char b; R(ws.recv(s,&b,1,0)); R(ws.send(s,&b,1,0)); R(ws.connect(s,(sockaddr*)&sin,sizeof sin));
      SOCKET s2 = Open(); ws.ioctlsocket(s2, FIONBIO, &one); R(ws.connect(s2,(sockaddr*)&sin,sizeof sin)); Sleep(50);
      v=-1; cb=4; R(ws.getsockopt(s2,SOL_SOCKET,SO_ERROR,(char*)&v,&cb)); P("soerr before select %d\n", v);
      FD_ZERO(&wr); FD_ZERO(&ex); FD_SET(s2,&wr); FD_SET(s2,&ex); tv.tv_sec=0; tv.tv_usec=100000; R(ws.select(0,NULL,&wr,&ex,&tv)); P("sets after soerr %u %u\n", wr.fd_count, ex.fd_count);
    }
    { // pending connect recv/send
      u_short p; SOCKET l = ListenOn(&p); (void)l; SOCKET s = Open(); u_long one=1; ws.ioctlsocket(s, FIONBIO, &one); SOCKADDR_IN sin = V4(INADDR_LOOPBACK, p);
      R(ws.connect(s,(sockaddr*)&sin,sizeof sin)); R(ws.connect(s,(sockaddr*)&sin,sizeof sin)); Sleep(50); R(ws.connect(s,(sockaddr*)&sin,sizeof sin));
    }
    { // reset, recv without select
      SOCKET c, sv; Pair(&c, &sv); struct linger lg={1,0}; ws.setsockopt(sv,SOL_SOCKET,SO_LINGER,(char*)&lg,4); Close(sv); Sleep(100);
      char b; R(ws.recv(c,&b,1,0)); R(ws.recv(c,&b,1,0)); R(ws.send(c,&b,1,0)); R(ws.send(c,&b,1,0));
    }
    { // send after peer reset with data
      SOCKET c, sv; Pair(&c, &sv); ws.send(c, "abc", 3, 0); Sleep(50); Close(sv); Sleep(100);  // unread data -> RST
      char b; R(ws.send(c,&b,1,0)); R(ws.send(c,&b,1,0)); R(ws.recv(c,&b,1,0)); R(ws.recv(c,&b,1,0));
    }
    { // shutdown then recv
      SOCKET c, sv; Pair(&c, &sv); R(ws.shutdown(c, SD_BOTH)); char b; R(ws.recv(c,&b,1,0)); R(ws.send(c,&b,1,0)); R(ws.shutdown(c, SD_RECEIVE)); 
    }
    { // close during blocked recv
      SOCKET c, sv; Pair(&c, &sv); long long res=0; int err=0; std::thread t([&]{ char b; res = ws.recv(c,&b,1,0); err = ws.WSAGetLastError(); }); Sleep(100); Close(c); t.join(); P("blocked recv after close -> %lld err %d\n", res, err);
    }
    { // close during blocked select
      SOCKET c, sv; Pair(&c, &sv); long long res=0; int err=0; u_int cnt=9; std::thread t([&]{ fd_set rd; FD_ZERO(&rd); FD_SET(c,&rd); timeval tv={1,0}; res = ws.select(0,&rd,0,0,&tv); err = ws.WSAGetLastError(); cnt = rd.fd_count; }); Sleep(100); Close(c); t.join(); P("blocked select after close -> %lld err %d cnt %u\n", res, err, cnt);
    }
    { ADDRINFOA *ai=0; SetLastError(555); r = ws.getaddrinfo("127.0.0.1", NULL, NULL, &ai); P("gai ok r=%d le=%lu\n", r, (unsigned long)GetLastError()); for (ADDRINFOA *p=ai;p;p=p->ai_next) P("  fam %d type %d proto %d flags %d canon %s len %d\n", p->ai_family, p->ai_socktype, p->ai_protocol, p->ai_flags, p->ai_canonname?p->ai_canonname:"(null)", (int)p->ai_addrlen); ws.freeaddrinfo(ai);
      ADDRINFOA h; memset(&h,0,sizeof h); h.ai_flags = AI_CANONNAME|AI_NUMERICHOST; ai=0; r = ws.getaddrinfo("127.0.0.1", "143", &h, &ai); P("gai canon r=%d\n", r); for (ADDRINFOA *p=ai;p;p=p->ai_next) P("  fam %d type %d proto %d flags %d canon %s\n", p->ai_family, p->ai_socktype, p->ai_protocol, p->ai_flags, p->ai_canonname?p->ai_canonname:"(null)"); ws.freeaddrinfo(ai);
      h.ai_flags = AI_CANONNAME; ai=0; r = ws.getaddrinfo(NULL, "143", &h, &ai); P("gai canon null node r=%d\n", r); ws.freeaddrinfo(ai);
      memset(&h,0,sizeof h); h.ai_socktype = SOCK_STREAM; ai=0; r = ws.getaddrinfo("127.0.0.1", "imap", &h, &ai); P("gai imap r=%d port %d\n", r, ai ? ws.ntohs(((SOCKADDR_IN*)ai->ai_addr)->sin_port) : -1); ws.freeaddrinfo(ai);
      memset(&h,0,sizeof h); ai=0; r = ws.getaddrinfo("127.0.0.1", "imap", &h, &ai); P("gai imap nosocktype r=%d\n", r); for (ADDRINFOA *p=ai;p;p=p->ai_next) P("  fam %d type %d proto %d\n", p->ai_family, p->ai_socktype, p->ai_protocol); ws.freeaddrinfo(ai);
      memset(&h,0,sizeof h); h.ai_protocol = IPPROTO_TCP; ai=0; r = ws.getaddrinfo("127.0.0.1", NULL, &h, &ai); P("gai proto only r=%d\n", r); for (ADDRINFOA *p=ai;p;p=p->ai_next) P("  fam %d type %d proto %d\n", p->ai_family, p->ai_socktype, p->ai_protocol); ws.freeaddrinfo(ai);
      memset(&h,0,sizeof h); h.ai_socktype = SOCK_STREAM; h.ai_protocol = IPPROTO_UDP; ai=0; r = ws.getaddrinfo("127.0.0.1", NULL, &h, &ai); P("gai stream/udp r=%d\n", r); ws.freeaddrinfo(ai);
      memset(&h,0,sizeof h); h.ai_family = AF_INET; h.ai_flags = AI_NUMERICHOST; ai=0; r = ws.getaddrinfo("1.2.3", NULL, &h, &ai); P("gai 1.2.3 numeric r=%d %s\n", r, ai? ws.inet_ntoa(((SOCKADDR_IN*)ai->ai_addr)->sin_addr):""); ws.freeaddrinfo(ai);

      memset(&h,0,sizeof h); h.ai_family = AF_INET6; h.ai_flags = AI_NUMERICHOST|0x800; ai=0; r = ws.getaddrinfo("127.0.0.1", NULL, &h, &ai); P("gai v4mapped r=%d\n", r); ws.freeaddrinfo(ai);
    }
    { SOCKADDR_IN sin = V4(INADDR_LOOPBACK, 143); char host[64], serv[32]; SetLastError(555); r = ws.getnameinfo((sockaddr*)&sin, sizeof sin, host, 64, serv, 32, NI_NUMERICHOST|NI_NUMERICSERV); P("gni r=%d le=%lu\n", r, (unsigned long)GetLastError());
      SetLastError(555); r = ws.getnameinfo((sockaddr*)&sin, sizeof sin, host, 64, serv, 2, NI_NUMERICHOST|NI_NUMERICSERV); P("gni small serv r=%d le=%lu\n", r, (unsigned long)GetLastError());
      SetLastError(555); r = ws.getnameinfo((sockaddr*)&sin, sizeof sin, host, 64, serv, 32, NI_NUMERICHOST|NI_NUMERICSERV|0x1000); P("gni badflag r=%d le=%lu\n", r, (unsigned long)GetLastError());
      SetLastError(555); r = ws.getnameinfo(NULL, sizeof sin, host, 64, serv, 32, NI_NUMERICHOST); P("gni null r=%d le=%lu\n", r, (unsigned long)GetLastError());
      sin.sin_family = 99; SetLastError(555); r = ws.getnameinfo((sockaddr*)&sin, sizeof sin, host, 64, serv, 32, NI_NUMERICHOST); P("gni fam99 r=%d le=%lu\n", r, (unsigned long)GetLastError());
      sin = V4(INADDR_LOOPBACK, 143); SetLastError(555); r = ws.getnameinfo((sockaddr*)&sin, sizeof sin, NULL, 0, NULL, 0, NI_NUMERICHOST); P("gni nothing r=%d le=%lu\n", r, (unsigned long)GetLastError());
      SetLastError(555); r = ws.getnameinfo((sockaddr*)&sin, sizeof sin, host, 64, serv, 32, NI_NUMERICHOST); P("gni servname r=%d le=%lu %s\n", r, GetLastError(), serv);
    }
    { hostent *h = ws.gethostbyname("localhost"); P("ghbn localhost %s\n", h ? h->h_name : "NULL"); for (int i = 0; h && h->h_aliases[i]; i++) P("  alias %s\n", h->h_aliases[i]); for (int i = 0; h && h->h_addr_list[i]; i++) P("  addr %d\n", (unsigned char)h->h_addr_list[i][0]);
      h = ws.gethostbyname("1.2.3"); P("ghbn 1.2.3 %s\n", h ? h->h_name : "NULL");
      servent *se = ws.getservbyname("imap", "tcp"); P("gsbn imap %s %d %s\n", se ? se->s_name : "NULL", se ? ws.ntohs(se->s_port) : -1, se ? se->s_proto : "");
      se = ws.getservbyname("imap2", NULL); P("gsbn imap2 null proto %s\n", se ? se->s_proto : "NULL");
      SetLastError(555); se = ws.getservbyname("143", "tcp"); P("gsbn 143 %p le %lu\n", (void*)se, (unsigned long)GetLastError());
    }
    { DWORD cb = 0; R(ws.WSAEnumProtocolsA(NULL, NULL, &cb)); P("enum need %lu\n", (unsigned long)cb);
      std::vector<WSAPROTOCOL_INFOA> v(40); cb = 40*sizeof(WSAPROTOCOL_INFOA); int n = ws.WSAEnumProtocolsA(NULL, v.data(), &cb); for (int i=0;i<n;i++) P("  proto %d %d %d flags1 %lx pfl %lx cat %lu chain %d ver %d max %d min %d order %d msg %lu '%s'\n", v[i].iAddressFamily, v[i].iSocketType, v[i].iProtocol, (unsigned long)v[i].dwServiceFlags1, (unsigned long)v[i].dwProviderFlags, (unsigned long)v[i].dwCatalogEntryId, v[i].ProtocolChain.ChainLen, v[i].iVersion, v[i].iMaxSockAddr, v[i].iMinSockAddr, v[i].iNetworkByteOrder, (unsigned long)v[i].dwMessageSize, v[i].szProtocol);
      int none[] = {0}; cb = 40*sizeof(WSAPROTOCOL_INFOA); R(ws.WSAEnumProtocolsA(none, v.data(), &cb));
    }
    { SOCKET s6 = Open(AF_INET6); int v = 9, cb = 4; R(ws.getsockopt(s6, IPPROTO_IPV6, 27, (char*)&v, &cb)); P("v6only default %d cb %d\n", v, cb);
      SOCKET c, sv; Pair(&c, &sv); ws.send(sv, "x", 1, 0); Sleep(50); fd_set rd; FD_ZERO(&rd); rd.fd_array[0]=c; rd.fd_array[1]=c; rd.fd_count=2; timeval tv={0,0}; R(ws.select(0,&rd,0,0,&tv)); P("dup count %u\n", rd.fd_count);
      u_long one = 1; ws.ioctlsocket(c, FIONBIO, &one); char big[100]; R(ws.recv(c, big, 100, 0)); R(ws.recv(c, big, 0, 0)); R(ws.send(c, big, 0, 0));
      FD_ZERO(&rd); FD_SET(c,&rd); timeval neg={-1,0}; R(ws.select(0,&rd,0,0,&neg));
    }
    { int cHeld=0; while (cHeld < 64 && ws.WSACleanup() == 0) cHeld++;
      DWORD cb = 0; R(ws.WSAEnumProtocolsA(NULL, NULL, &cb)); ADDRINFOA *ai=0; R(ws.getaddrinfo("127.0.0.1", NULL, NULL, &ai)); R(ws.gethostbyname("127.0.0.1")); R(ws.getservbyname("imap","tcp"));
      fd_set rd; FD_ZERO(&rd); FD_SET((SOCKET)0x1234, &rd); timeval tv={0,0}; R(ws.select(0,&rd,0,0,&tv)); R(ws.select(0,0,0,0,&tv)); R(ws.inet_addr("1.2.3.4")); R(ws.htons(1)); unsigned char b[16]; R(ws.inet_pton(AF_INET,"1.2.3.4",b));
      SOCKADDR_IN sin = V4(INADDR_LOOPBACK, 143); char host[64]; R(ws.getnameinfo((sockaddr*)&sin, sizeof sin, host, 64, NULL, 0, NI_NUMERICHOST));
      R(ws.recv((SOCKET)0x1234, (char*)b, 1, 0));
      for (int i = 0; i < cHeld; i++) { WSADATA dd; ws.WSAStartup(MAKEWORD(2,2), &dd); }
    }
}
}
