-- Method calls through an __index table.
local Account = {}
Account.__index = Account
function Account.deposit(self, v)
  self.balance = self.balance + v
end
local a = setmetatable({balance = 0}, Account)
for i = 1, 10000000 do
  a:deposit(i)
end
return a.balance
