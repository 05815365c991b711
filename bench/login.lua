-- wrk script: signs in as the administrator with the default password on every request.
wrk.method = "POST"
wrk.path = "/rpc/v1/login/password"
wrk.headers["Content-Type"] = "application/json"
wrk.body = '{"username":"admin","password":"quilm"}'
