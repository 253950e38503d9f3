"""Network peers that end-to-end listings ask for with ";! peer: KIND": each
runs on 127.0.0.1 on a free port with a hard lifetime and is stopped after the
run.  Kinds: nginx, http (the scripted peer of the network tests), echo (socat
TCP echo), ftp (pyftpdlib, anonymous with write access)."""

import os
import shutil
import socket
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, os.pardir, os.pardir))
LIFETIME = 60


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, seconds=5.0):
    end = time.time() + seconds
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.02)
    return False


def nginx_config(workdir, port):
    root = os.path.join(workdir, "www")
    os.makedirs(os.path.join(root, "chunked"), exist_ok=True)
    os.makedirs(os.path.join(root, "auth"), exist_ok=True)
    with open(os.path.join(root, "hello.txt"), "w") as f:
        f.write("hello from nginx")
    with open(os.path.join(root, "chunked", "ssi.txt"), "w") as f:
        f.write("chunked <!--# echo var=\"ssi_marker\" default=\"body\" -->")
    with open(os.path.join(root, "auth", "secret.txt"), "w") as f:
        f.write("secret")
    with open(os.path.join(workdir, "htpasswd"), "w") as f:
        f.write("user:{PLAIN}pass\n")
    conf = os.path.join(workdir, "nginx.conf")
    tmp = os.path.join(workdir, "nginx-tmp")
    os.makedirs(tmp, exist_ok=True)
    with open(conf, "w") as f:
        f.write("""daemon off;
worker_processes 1;
pid %(w)s/nginx.pid;
error_log %(w)s/nginx-error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path %(t)s/body;
  proxy_temp_path %(t)s/proxy;
  fastcgi_temp_path %(t)s/fastcgi;
  uwsgi_temp_path %(t)s/uwsgi;
  scgi_temp_path %(t)s/scgi;
  server {
    listen 127.0.0.1:%(p)d;
    root %(r)s;
    location /chunked/ { ssi on; ssi_types *; }
    location /auth/ { auth_basic "zone"; auth_basic_user_file %(w)s/htpasswd; }
    location = /moved { return 302 /hello.txt; }
  }
}
""" % {"w": workdir, "t": tmp, "p": port, "r": root})
    return conf


def command(kind, workdir, port):
    if kind == "nginx":
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        if not os.path.exists(nginx):
            return None
        return [nginx, "-e", os.path.join(workdir, "nginx-error.log"), "-c", nginx_config(workdir, port)]
    if kind == "http":
        return ["/usr/bin/python3", os.path.join(SOURCE, "tests", "net", "peers", "httppeer.py"), str(port),
                str(LIFETIME)]
    if kind == "echo":
        if not shutil.which("socat"):
            return None
        return ["socat", "TCP-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork" % port, "PIPE"]
    if kind == "ftp":
        if subprocess.run(["/usr/bin/python3", "-c", "import pyftpdlib"], capture_output=True).returncode != 0:
            return None
        root = os.path.join(workdir, "ftp")
        os.makedirs(root, exist_ok=True)
        with open(os.path.join(root, "hello.txt"), "w") as f:
            f.write("hello from ftp")
        return ["/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", str(port), "-w", "-d", root]
    raise ValueError("unknown peer kind %r" % kind)


class Peers:
    """The peers of one run; {port}, {port2}, ... name their ports in order."""

    def __init__(self):
        self.procs = []
        self.subst = {}

    def start(self, kinds, workdir):
        """None when all run, "" when one is missing here, else a failure text."""
        for i, kind in enumerate(kinds):
            port = free_port()
            cmd = command(kind.strip(), workdir, port)
            if cmd is None:
                return ""
            proc = subprocess.Popen(["timeout", "-s", "KILL", str(LIFETIME)] + cmd, cwd=workdir,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
            self.procs.append(proc)
            if not wait_port(port):
                return "peer %s did not listen on port %d" % (kind, port)
            self.subst["port" if i == 0 else "port%d" % (i + 1)] = str(port)
        return None

    def stop(self):
        for proc in self.procs:
            try:
                os.killpg(proc.pid, 9)
            except OSError:
                pass
            proc.wait()
        self.procs = []
