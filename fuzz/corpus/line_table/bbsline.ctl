# device,speed,delay
console,0,0
